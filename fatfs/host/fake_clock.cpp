#include "fatfs/host/fake_clock.h"

namespace {
DWORD g_stamp = fat_timestamp(2020, 6, 15, 12, 34, 56);
}

DWORD fat_timestamp(int year, int month, int day, int hour, int min, int sec)
{
    return (static_cast<DWORD>(year - 1980) << 25) | (static_cast<DWORD>(month) << 21) |
           (static_cast<DWORD>(day) << 16) | (static_cast<DWORD>(hour) << 11) |
           (static_cast<DWORD>(min) << 5) | (static_cast<DWORD>(sec) / 2);
}

void fake_fattime_set(DWORD stamp) { g_stamp = stamp; }
DWORD fake_fattime_get() { return g_stamp; }

extern "C" DWORD get_fattime(void) { return g_stamp; }
