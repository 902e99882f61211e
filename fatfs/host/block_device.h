// Host block devices: a C++ face for the disk layer's operations table, so a
// backend is a class and any of them can be attached to a drive or wrapped.
#ifndef TESSIVO_FATFS_HOST_BLOCK_DEVICE_H
#define TESSIVO_FATFS_HOST_BLOCK_DEVICE_H

#include "fatfs/diskio.h"

class BlockDevice {
public:
    virtual ~BlockDevice();

    virtual DSTATUS initialize() = 0;
    virtual DSTATUS status() = 0;
    // Transfers check their range first (disk_range_ok): RES_PARERR outside.
    virtual DRESULT read(BYTE* buff, DWORD sector, UINT count) = 0;
    virtual DRESULT write(const BYTE* buff, DWORD sector, UINT count) = 0;
    virtual DRESULT sync() = 0;
    virtual DRESULT sector_count(DWORD* count) = 0;
    virtual DRESULT erase_block(DWORD* sectors) = 0;
    virtual DRESULT control(BYTE ctrl, void* buff);  // RES_PARERR unless a device knows the code

    // Attaches this device as drive `drv`. A device leaves its drive when it
    // is destroyed, and the device attached there before it is the drive
    // again (or none).
    void attach(BYTE drv = 0);

    // The operations table of every BlockDevice (the device is its state).
    static const DISKOPS ops;
};

#endif
