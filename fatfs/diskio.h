/* Disk I/O contract between the FAT module and the storage (512-byte sectors).
 * The disk_* functions check the drive number and hand each call to the
 * block device attached to that drive: one indirect call per transfer.
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

/* Number of drives the disk layer serves (drive numbers 0 .. DISK_DRIVES-1). */
#define DISK_DRIVES 1

/* A block device: the operations of one drive. `dev` is the backend's own
 * state, handed back to every entry. Entries that take a sector range check
 * it against the device's size before anything happens (RES_PARERR outside,
 * or for a zero count). */
typedef struct {
    DSTATUS (*initialize)(void* dev);
    DSTATUS (*status)(void* dev);
    DRESULT (*read)(void* dev, BYTE* buff, DWORD sector, UINT count);
    DRESULT (*write)(void* dev, const BYTE* buff, DWORD sector, UINT count);
    DRESULT (*sync)(void* dev);                         /* IOCTL_SYNC */
    DRESULT (*sector_count)(void* dev, DWORD* count);   /* IOCTL_SECTOR_COUNT */
    DRESULT (*erase_block)(void* dev, DWORD* sectors);  /* IOCTL_BLOCK_SIZE */
    /* Any other control code; null when the device has none (RES_PARERR). */
    DRESULT (*control)(void* dev, BYTE ctrl, void* buff);
} DISKOPS;

/* Attaches `ops` (with its state `dev`) as drive `drv`; a null `ops` leaves
 * the drive empty. RES_PARERR for a drive number out of range. */
DRESULT disk_attach(BYTE drv, const DISKOPS* ops, void* dev);

/* True when `count` sectors from `sector` on lie inside a device of `total`
 * sectors (and count is not zero): the range check of every backend. */
static inline int disk_range_ok(DWORD sector, UINT count, DWORD total)
{
    return count != 0 && sector < total && count <= total - sector;
}

/* An empty drive reads as STAT_NOINIT | STAT_NODISK and answers RES_NOTRDY. */
DSTATUS disk_initialize(BYTE drv);
DSTATUS disk_status(BYTE drv);
DRESULT disk_read(BYTE drv, BYTE* buff, DWORD sector, BYTE count);
DRESULT disk_write(BYTE drv, const BYTE* buff, DWORD sector, BYTE count);
DRESULT disk_ioctl(BYTE drv, BYTE ctrl, void* buff);

/* Provided by the application: the current time as a FAT time stamp. */
DWORD get_fattime(void);

#ifdef __cplusplus
}
#endif

#endif
