// One raw image file as drive 0, for host programs: a shorthand over
// ImageDisk (see image_disk.h) that keeps the image for the program's life.
#ifndef TESSIVO_FATFS_HOST_DISKIO_IMAGE_H
#define TESSIVO_FATFS_HOST_DISKIO_IMAGE_H

#include "fatfs/diskio.h"

// Opens `path` read-only or read-write as drive 0, closing any image open
// before. Returns false (no image open) when the file cannot be opened.
bool diskimage_open(const char* path, bool writable);
// Uses the open file or block device `fd` of `bytes` (whole sectors count)
// as drive 0, closing any image open before. The caller keeps `fd`: it
// flushes and closes it after diskimage_close.
void diskimage_attach(int fd, unsigned long long bytes, bool writable);
// Flushes a writable image opened by path to stable storage and closes it;
// an attached descriptor is only let go.
void diskimage_close();
DWORD diskimage_sector_count();

#endif
