#include "fatfs/host/volume_start.h"

namespace {

constexpr unsigned kPartitionTable = 446;  // first entry of four
constexpr unsigned kEntryType = 4;
constexpr unsigned kEntryStart = 8;

}  // namespace

DWORD volume_start(const BYTE* sector0)
{
    // A boot sector starts with a jump and says 512 bytes per sector.
    const bool boot_sector = (sector0[0] == 0xEB || sector0[0] == 0xE9) && sector0[11] == 0 && sector0[12] == 2;
    const BYTE* entry = sector0 + kPartitionTable;
    if (boot_sector || entry[kEntryType] == 0) return 0;
    const BYTE* p = entry + kEntryStart;
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}
