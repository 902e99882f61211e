#include "fuzz/fuzz_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace fuzz {
namespace {

bool all_zero(const BYTE* p)
{
    for (std::size_t i = 0; i < 512; i++)
        if (p[i]) return false;
    return true;
}

DWORD load_le32(const uint8_t* p)
{
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

void put_le32(std::vector<uint8_t>& out, DWORD v)
{
    for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

const Sector kZeros{};

}  // namespace

FuzzDisk& FuzzDisk::drive()
{
    static FuzzDisk disk;
    return disk;
}

void FuzzDisk::reset(DWORD n)
{
    sectors = n;
    data.clear();
    clear_traffic();
}

void FuzzDisk::clear_traffic()
{
    reads = writes = 0;
    wrote_outside = read_outside = false;
    written.clear();
    transfers_left = SIZE_MAX;
}

const BYTE* FuzzDisk::sector(DWORD n) const
{
    const auto it = data.find(n);
    return it == data.end() ? kZeros.data() : it->second.data();
}

void FuzzDisk::store(DWORD n, const BYTE* src)
{
    if (all_zero(src)) {
        data.erase(n);
        return;
    }
    std::memcpy(data[n].data(), src, 512);
}

void FuzzDisk::load_sparse(const uint8_t* bytes, std::size_t size, DWORD max_sectors)
{
    DWORD n = size >= 4 ? load_le32(bytes) : 0;
    if (n > max_sectors) n = max_sectors;
    reset(n);
    for (std::size_t pos = 4; pos + 4 < size; pos += 4 + 512) {
        const DWORD at = load_le32(bytes + pos);
        Sector s{};
        std::memcpy(s.data(), bytes + pos + 4, std::min<std::size_t>(512, size - pos - 4));
        if (at < sectors) store(at, s.data());
    }
}

std::vector<uint8_t> FuzzDisk::save_sparse() const
{
    std::vector<DWORD> order;
    for (const auto& kv : data) order.push_back(kv.first);
    std::sort(order.begin(), order.end());
    std::vector<uint8_t> out;
    put_le32(out, sectors);
    for (DWORD n : order) {
        put_le32(out, n);
        const BYTE* p = sector(n);
        out.insert(out.end(), p, p + 512);
    }
    return out;
}

bool FuzzDisk::save_raw(const std::string& path, DWORD first) const
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = first <= sectors && ::ftruncate(fd, static_cast<off_t>(sectors - first) * 512) == 0;
    for (const auto& kv : data)
        if (kv.first >= first)
            ok = ok && ::pwrite(fd, kv.second.data(), 512, static_cast<off_t>(kv.first - first) * 512) == 512;
    return ::close(fd) == 0 && ok;
}

DWORD FuzzDisk::volume_start() const
{
    const BYTE* s0 = sector(0);
    const bool boot_sector = (s0[0] == 0xEB || s0[0] == 0xE9) && s0[11] == 0 && s0[12] == 2;
    if (boot_sector || s0[446 + 4] == 0) return 0;
    return load_le32(s0 + 446 + 8);
}

bool FuzzDisk::load_raw(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    reset(static_cast<DWORD>(st.st_size / 512));
    Sector s{};
    for (DWORD n = 0; n < sectors; n++) {
        if (::pread(fd, s.data(), 512, static_cast<off_t>(n) * 512) != 512) break;
        store(n, s.data());
    }
    ::close(fd);
    return true;
}

std::vector<uint8_t> pack_raw_image(const std::vector<uint8_t>& raw)
{
    std::vector<uint8_t> out;
    const DWORD n = static_cast<DWORD>(raw.size() / 512);
    put_le32(out, n);
    for (DWORD s = 0; s < n; s++) {
        const BYTE* p = raw.data() + static_cast<std::size_t>(s) * 512;
        if (all_zero(p)) continue;
        put_le32(out, s);
        out.insert(out.end(), p, p + 512);
    }
    return out;
}

}  // namespace fuzz

// The disk_* entry points of drive 0.
extern "C" {

DSTATUS disk_initialize(BYTE drv) { return drv == 0 ? 0 : STAT_NOINIT; }
DSTATUS disk_status(BYTE drv) { return drv == 0 ? 0 : STAT_NOINIT; }

DRESULT disk_read(BYTE drv, BYTE* buff, DWORD sector, BYTE count)
{
    fuzz::FuzzDisk& d = fuzz::FuzzDisk::drive();
    if (drv != 0 || count == 0) return RES_PARERR;
    if (sector >= d.sectors || count > d.sectors - sector) {
        d.read_outside = true;
        return RES_ERROR;
    }
    if (d.transfers_left == 0) return RES_ERROR;
    if (d.transfers_left != SIZE_MAX) d.transfers_left--;
    for (BYTE i = 0; i < count; i++) std::memcpy(buff + 512u * i, d.sector(sector + i), 512);
    d.reads += count;
    return RES_OK;
}

DRESULT disk_write(BYTE drv, const BYTE* buff, DWORD sector, BYTE count)
{
    fuzz::FuzzDisk& d = fuzz::FuzzDisk::drive();
    if (drv != 0 || count == 0) return RES_PARERR;
    if (sector >= d.sectors || count > d.sectors - sector) {
        d.wrote_outside = true;
        return RES_ERROR;
    }
    if (d.transfers_left == 0) return RES_ERROR;
    if (d.transfers_left != SIZE_MAX) d.transfers_left--;
    for (BYTE i = 0; i < count; i++) {
        d.store(sector + i, buff + 512u * i);
        d.written.push_back(sector + i);
    }
    d.writes += count;
    return RES_OK;
}

DRESULT disk_ioctl(BYTE drv, BYTE ctrl, void* buff)
{
    if (drv != 0) return RES_PARERR;
    switch (ctrl) {
    case IOCTL_SYNC:
        return RES_OK;
    case IOCTL_SECTOR_COUNT: {
        const DWORD n = fuzz::FuzzDisk::drive().sectors;
        std::memcpy(buff, &n, sizeof n);
        return RES_OK;
    }
    case IOCTL_SECTOR_SIZE: {
        const WORD n = 512;
        std::memcpy(buff, &n, sizeof n);
        return RES_OK;
    }
    case IOCTL_BLOCK_SIZE: {
        const DWORD n = 1;
        std::memcpy(buff, &n, sizeof n);
        return RES_OK;
    }
    default:
        return RES_PARERR;
    }
}

void disk_timerproc(void) {}

// A fixed time stamp: replays must be byte for byte repeatable.
DWORD get_fattime(void) { return (40u << 25) | (6u << 21) | (15u << 16) | (12u << 11) | (34u << 5) | 28u; }
}
