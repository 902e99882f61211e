#include "sparse_disk.h"

#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

SparseDisk& SparseDisk::drive()
{
    static SparseDisk d;
    return d;
}

void SparseDisk::reset(DWORD n)
{
    *this = SparseDisk{};
    sectors = n;
}

const BYTE* SparseDisk::sector(DWORD n) const
{
    static const std::array<BYTE, 512> zeros{};
    const auto it = data.find(n);
    return it == data.end() ? zeros.data() : it->second.data();
}

bool SparseDisk::save(const std::string& path, DWORD first) const
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, static_cast<off_t>(sectors - first) * 512) == 0;
    for (const auto& [n, bytes] : data) {
        if (n < first) continue;
        ok = ok && ::pwrite(fd, bytes.data(), 512, static_cast<off_t>(n - first) * 512) == 512;
    }
    return ::close(fd) == 0 && ok;
}

bool SparseDisk::load(const std::string& path, DWORD first)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    std::array<BYTE, 512> buf;
    static const std::array<BYTE, 512> zeros{};
    bool ok = true;
    for (DWORD n = first; n < sectors; n++) {
        if (::pread(fd, buf.data(), 512, static_cast<off_t>(n - first) * 512) != 512) {
            ok = false;
            break;
        }
        if (buf != zeros) data[n] = buf;
        else data.erase(n);
    }
    ::close(fd);
    return ok;
}

extern "C" {

DSTATUS disk_initialize(BYTE drv)
{
    if (drv != 0) return STAT_NOINIT;
    return SparseDisk::drive().protect ? STAT_PROTECT : 0;
}

DSTATUS disk_status(BYTE drv)
{
    return disk_initialize(drv);
}

DRESULT disk_read(BYTE drv, BYTE* buff, DWORD sector, BYTE count)
{
    SparseDisk& d = SparseDisk::drive();
    if (drv != 0 || count == 0) return RES_PARERR;
    if (sector >= d.sectors || d.sectors - sector < count) return RES_ERROR;
    for (BYTE i = 0; i < count; i++) std::memcpy(buff + i * 512, d.sector(sector + i), 512);
    return RES_OK;
}

DRESULT disk_write(BYTE drv, const BYTE* buff, DWORD sector, BYTE count)
{
    SparseDisk& d = SparseDisk::drive();
    if (drv != 0 || count == 0) return RES_PARERR;
    if (sector >= d.sectors || d.sectors - sector < count) {
        d.wrote_outside = true;
        return RES_ERROR;
    }
    static const std::array<BYTE, 512> zeros{};
    for (BYTE i = 0; i < count; i++) {
        std::array<BYTE, 512> s;
        std::memcpy(s.data(), buff + i * 512, 512);
        if (s == zeros) d.data.erase(sector + i);
        else d.data[sector + i] = s;
        if (sector + i > d.highest_written) d.highest_written = sector + i;
    }
    d.writes += count;
    return RES_OK;
}

DRESULT disk_ioctl(BYTE drv, BYTE ctrl, void* buff)
{
    SparseDisk& d = SparseDisk::drive();
    if (drv != 0) return RES_PARERR;
    switch (ctrl) {
    case IOCTL_SYNC: return RES_OK;
    case IOCTL_SECTOR_COUNT: std::memcpy(buff, &d.sectors, 4); return RES_OK;
    case IOCTL_BLOCK_SIZE:
        if (d.block_query_fails) return RES_ERROR;
        std::memcpy(buff, &d.block_size, 4);
        return RES_OK;
    default: return RES_PARERR;
    }
}

DWORD get_fattime(void)
{
    return (DWORD)(46u << 25 | 12u << 21 | 11u << 16 | 12u << 11 | 30u << 5);
}

} // extern "C"
