// A settable get_fattime for tests and fuzz targets: every time stamp the
// module writes is the value set here (a fixed one until then, so runs are
// repeatable byte for byte).
#ifndef TESSIVO_FATFS_HOST_FAKE_CLOCK_H
#define TESSIVO_FATFS_HOST_FAKE_CLOCK_H

#include "fatfs/diskio.h"

void fake_fattime_set(DWORD stamp);
DWORD fake_fattime_get();
// Packs a date and time into a FAT time stamp.
DWORD fat_timestamp(int year, int month, int day, int hour, int min, int sec);

#endif
