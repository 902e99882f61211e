// get_fattime from the host's local clock, for host programs.
#include <ctime>

#include "fatfs/diskio.h"

extern "C" DWORD get_fattime(void)
{
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    int year = tm.tm_year + 1900;
    if (year < 1980) year = 1980;
    if (year > 2107) year = 2107;
    return (static_cast<DWORD>(year - 1980) << 25) | (static_cast<DWORD>(tm.tm_mon + 1) << 21) |
           (static_cast<DWORD>(tm.tm_mday) << 16) | (static_cast<DWORD>(tm.tm_hour) << 11) |
           (static_cast<DWORD>(tm.tm_min) << 5) | (static_cast<DWORD>(tm.tm_sec / 2));
}
