#include "fuzz/fuzz_disk.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "fatfs/host/fake_clock.h"

namespace fuzz {
namespace {

DWORD load_le32(const uint8_t* p)
{
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

void put_le32(std::vector<uint8_t>& out, DWORD v)
{
    for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_sector(std::vector<uint8_t>& out, DWORD n, const BYTE* p)
{
    put_le32(out, n);
    out.insert(out.end(), p, p + MemoryDisk::kSector);
}

}  // namespace

FuzzDrive& FuzzDrive::get()
{
    static FuzzDrive* const d = [] {
        auto* made = new FuzzDrive;  // lives for the whole run
        made->drive.attach(0);
        // Replays must be byte for byte repeatable: one fixed time stamp.
        fake_fattime_set(fat_timestamp(2020, 6, 15, 12, 34, 56));
        return made;
    }();
    return *d;
}

void FuzzDrive::start(const MemoryDisk& card)
{
    medium = card;
    drive.clear_calls();
    drive.clear_faults();
}

void FuzzDrive::load_sparse(const uint8_t* bytes, std::size_t size, DWORD max_sectors)
{
    DWORD n = size >= 4 ? load_le32(bytes) : 0;
    if (n > max_sectors) n = max_sectors;
    start(MemoryDisk(n));
    for (std::size_t pos = 4; pos + 4 < size; pos += 4 + MemoryDisk::kSector) {
        const DWORD at = load_le32(bytes + pos);
        std::array<BYTE, MemoryDisk::kSector> s{};
        std::memcpy(s.data(), bytes + pos + 4, std::min<std::size_t>(s.size(), size - pos - 4));
        if (at < n) medium.store(at, s.data());
    }
}

std::vector<uint8_t> save_sparse(const MemoryDisk& card)
{
    std::vector<uint8_t> out;
    put_le32(out, card.sectors());
    for (DWORD n : card.stored_sectors()) put_sector(out, n, card.sector(n));
    return out;
}

std::vector<uint8_t> pack_raw_image(const std::vector<uint8_t>& raw)
{
    return save_sparse(MemoryDisk(raw));
}

}  // namespace fuzz
