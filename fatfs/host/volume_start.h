// Where the FAT volume of a card starts, for handing it to tools that read no
// partition table (fsck.fat, mtools).
#ifndef TESSIVO_FATFS_HOST_VOLUME_START_H
#define TESSIVO_FATFS_HOST_VOLUME_START_H

#include "fatfs/integer.h"

// The first partition's first sector when `sector0` (a card's first 512
// bytes) holds a partition table rather than a boot sector, else 0.
DWORD volume_start(const BYTE* sector0);

#endif
