// The disk layer: each disk_* call goes to the block device attached to its
// drive, one indirect call per call.
#include "fatfs/diskio.h"

namespace {

struct Drive {
    const DISKOPS* ops;
    void* dev;
};

Drive Drives[DISK_DRIVES];

// The drive's device, or null for a drive number out of range.
const Drive* drive(BYTE drv) { return drv < DISK_DRIVES ? &Drives[drv] : nullptr; }

constexpr DSTATUS EMPTY_DRIVE = STAT_NOINIT | STAT_NODISK;
constexpr WORD SECTOR_BYTES = 512;

}  // namespace

extern "C" {

DRESULT disk_attach(BYTE drv, const DISKOPS* ops, void* dev) {
    if (drv >= DISK_DRIVES) return RES_PARERR;
    Drives[drv].ops = ops;
    Drives[drv].dev = dev;
    return RES_OK;
}

DSTATUS disk_initialize(BYTE drv) {
    const Drive* d = drive(drv);
    if (!d) return STAT_NOINIT;
    return d->ops ? d->ops->initialize(d->dev) : EMPTY_DRIVE;
}

DSTATUS disk_status(BYTE drv) {
    const Drive* d = drive(drv);
    if (!d) return STAT_NOINIT;
    return d->ops ? d->ops->status(d->dev) : EMPTY_DRIVE;
}

DRESULT disk_read(BYTE drv, BYTE* buff, DWORD sector, BYTE count) {
    const Drive* d = drive(drv);
    if (!d || count == 0) return RES_PARERR;
    return d->ops ? d->ops->read(d->dev, buff, sector, count) : RES_NOTRDY;
}

DRESULT disk_write(BYTE drv, const BYTE* buff, DWORD sector, BYTE count) {
    const Drive* d = drive(drv);
    if (!d || count == 0) return RES_PARERR;
    return d->ops ? d->ops->write(d->dev, buff, sector, count) : RES_NOTRDY;
}

DRESULT disk_ioctl(BYTE drv, BYTE ctrl, void* buff) {
    const Drive* d = drive(drv);
    if (!d) return RES_PARERR;
    if (!d->ops) return RES_NOTRDY;
    switch (ctrl) {
        case IOCTL_SYNC:
            return d->ops->sync(d->dev);
        case IOCTL_SECTOR_COUNT:
            return d->ops->sector_count(d->dev, static_cast<DWORD*>(buff));
        case IOCTL_SECTOR_SIZE:
            *static_cast<WORD*>(buff) = SECTOR_BYTES;
            return RES_OK;
        case IOCTL_BLOCK_SIZE:
            return d->ops->erase_block(d->dev, static_cast<DWORD*>(buff));
        default:
            return d->ops->control ? d->ops->control(d->dev, ctrl, buff) : RES_PARERR;
    }
}

}  // extern "C"
