// Raw disk image file backend of the disk_* functions.
#include "fatfs/host/diskio_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

int g_fd = -1;
bool g_owned = false;  // opened here by path, so closed here
bool g_writable = false;
DWORD g_sectors = 0;
bool g_initialised = false;

bool in_image(DWORD sector, BYTE count)
{
    return count != 0 && sector < g_sectors && count <= g_sectors - sector;
}

// Full transfer at an offset, retrying short transfers and interruptions.
template <typename Buf, typename Op>
bool transfer(Buf buff, std::size_t len, off_t ofs, Op op)
{
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = op(g_fd, buff + done, len - done, ofs + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool diskimage_open(const char* path, bool writable)
{
    diskimage_close();
    const int fd = ::open(path, writable ? O_RDWR : O_RDONLY);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<unsigned long long>(st.st_size) / 512 > 0xFFFFFFFFull) {
        ::close(fd);
        return false;
    }
    diskimage_attach(fd, static_cast<unsigned long long>(st.st_size), writable);
    g_owned = true;
    return true;
}

void diskimage_attach(int fd, unsigned long long bytes, bool writable)
{
    diskimage_close();
    g_fd = fd;
    g_owned = false;
    g_writable = writable;
    g_sectors = bytes / 512 > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(bytes / 512);
    g_initialised = false;
}

void diskimage_close()
{
    if (g_fd >= 0 && g_owned) {
        if (g_writable) ::fsync(g_fd);
        ::close(g_fd);
    }
    g_fd = -1;
    g_owned = false;
    g_sectors = 0;
    g_initialised = false;
}

bool diskimage_is_open() { return g_fd >= 0; }
DWORD diskimage_sector_count() { return g_sectors; }

extern "C" {

DSTATUS disk_initialize(BYTE drv)
{
    if (drv != 0) return STAT_NOINIT;
    if (g_fd < 0) return STAT_NOINIT | STAT_NODISK;
    g_initialised = true;
    return g_writable ? 0 : STAT_PROTECT;
}

DSTATUS disk_status(BYTE drv)
{
    if (drv != 0) return STAT_NOINIT;
    if (g_fd < 0) return STAT_NOINIT | STAT_NODISK;
    DSTATUS s = g_initialised ? 0 : STAT_NOINIT;
    if (!g_writable) s |= STAT_PROTECT;
    return s;
}

DRESULT disk_read(BYTE drv, BYTE* buff, DWORD sector, BYTE count)
{
    if (drv != 0 || !in_image(sector, count)) return RES_PARERR;
    if (!g_initialised) return RES_NOTRDY;
    return transfer(buff, count * 512u, static_cast<off_t>(sector) * 512, ::pread) ? RES_OK : RES_ERROR;
}

DRESULT disk_write(BYTE drv, const BYTE* buff, DWORD sector, BYTE count)
{
    if (drv != 0 || !in_image(sector, count)) return RES_PARERR;
    if (!g_initialised) return RES_NOTRDY;
    if (!g_writable) return RES_WRPRT;
    return transfer(buff, count * 512u, static_cast<off_t>(sector) * 512, ::pwrite) ? RES_OK : RES_ERROR;
}

DRESULT disk_ioctl(BYTE drv, BYTE ctrl, void* buff)
{
    if (drv != 0) return RES_PARERR;
    if (!g_initialised) return RES_NOTRDY;
    switch (ctrl) {
    case IOCTL_SYNC:
        // Every write is already in the file, visible to other programs;
        // flushing to stable storage is left to diskimage_close, since a
        // flush per volume sync would cost milliseconds each.
        return RES_OK;
    case IOCTL_SECTOR_COUNT:
        *static_cast<DWORD*>(buff) = g_sectors;
        return RES_OK;
    case IOCTL_SECTOR_SIZE:
        *static_cast<WORD*>(buff) = 512;
        return RES_OK;
    case IOCTL_BLOCK_SIZE:
        *static_cast<DWORD*>(buff) = 1;
        return RES_OK;
    default:
        return RES_PARERR;
    }
}

void disk_timerproc(void) {}

}
