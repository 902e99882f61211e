/* Disk I/O contract between the FAT module and the storage (drive 0, 512-byte sectors).
 * Usable from C and C++. */
#ifndef TESSIVO_FATFS_DISKIO_H
#define TESSIVO_FATFS_DISKIO_H

#include "integer.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef BYTE DSTATUS;

/* Status bits of DSTATUS */
#define STAT_NOINIT  0x01 /* drive not initialised */
#define STAT_NODISK  0x02 /* no medium in the socket */
#define STAT_PROTECT 0x04 /* medium write-protected */

typedef enum {
    RES_OK = 0,  /* success */
    RES_ERROR,   /* a card operation failed */
    RES_WRPRT,   /* medium write-protected */
    RES_NOTRDY,  /* drive not initialised */
    RES_PARERR   /* bad drive number, zero count or undefined control code */
} DRESULT;

/* Control codes of disk_ioctl */
#define IOCTL_SYNC          0  /* finish pending writes */
#define IOCTL_SECTOR_COUNT  1  /* DWORD: number of sectors */
#define IOCTL_SECTOR_SIZE   2  /* WORD: 512 */
#define IOCTL_BLOCK_SIZE    3  /* DWORD: erase block size in sectors */
#define IOCTL_CARD_TYPE     10 /* BYTE: card type bits */
#define IOCTL_READ_CSD      11 /* 16 bytes */
#define IOCTL_READ_CID      12 /* 16 bytes */
#define IOCTL_READ_OCR      13 /* 4 bytes */
#define IOCTL_READ_SDSTATUS 14 /* 64 bytes */

/* Card type bits (CardType) */
#define CARD_MMC   0x01 /* MMC version 3 */
#define CARD_SD1   0x02 /* SD version 1 */
#define CARD_SD2   0x04 /* SD version 2 */
#define CARD_SD    (CARD_SD1 | CARD_SD2)
#define CARD_BLOCK 0x08 /* block addressing */

DSTATUS disk_initialize(BYTE drv);
DSTATUS disk_status(BYTE drv);
DRESULT disk_read(BYTE drv, BYTE* buff, DWORD sector, BYTE count);
DRESULT disk_write(BYTE drv, const BYTE* buff, DWORD sector, BYTE count);
DRESULT disk_ioctl(BYTE drv, BYTE ctrl, void* buff);
void disk_timerproc(void);

/* Provided by the application: the current time as a FAT time stamp. */
DWORD get_fattime(void);

#ifdef __cplusplus
}
#endif

#endif
