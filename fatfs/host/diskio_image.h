// Raw disk image file behind the disk_* functions, for host programs.
// One image at a time is drive 0; its capacity is the file size in whole
// sectors. Transfers outside the image are refused and never extend the file.
#ifndef TESSIVO_FATFS_HOST_DISKIO_IMAGE_H
#define TESSIVO_FATFS_HOST_DISKIO_IMAGE_H

#include "fatfs/diskio.h"

// Opens `path` read-only or read-write as drive 0, closing any image open
// before. Returns false (no image open) when the file cannot be opened.
bool diskimage_open(const char* path, bool writable);
// Flushes a writable image to stable storage and closes it.
void diskimage_close();
bool diskimage_is_open();
DWORD diskimage_sector_count();

#endif
