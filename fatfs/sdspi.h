/* The SD / MMC card on SPI1 (chip select RF0) as a block device. Usable from
 * C and C++. */
#ifndef TESSIVO_FATFS_SDSPI_H
#define TESSIVO_FATFS_SDSPI_H

#include "diskio.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The card's operations; attach them with a null device:
 * disk_attach(0, &sdspi_disk, 0). Besides the common control codes the card
 * answers IOCTL_CARD_TYPE and the register reads (IOCTL_READ_CSD, ...). */
extern const DISKOPS sdspi_disk;

/* The driver's millisecond service: counts its time-outs down. The 1 ms tick
 * calls it. */
void disk_timerproc(void);

#ifdef __cplusplus
}
#endif

#endif
