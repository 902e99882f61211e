#include "fatfs/host/image_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

constexpr std::size_t kSector = 512;

bool zero_sector(const BYTE* p)
{
    static const BYTE zeros[kSector] = {};
    return std::memcmp(p, zeros, kSector) == 0;
}

// Full transfer at an offset, retrying short transfers and interruptions.
template <typename Buf, typename Op>
bool transfer(int fd, Buf buff, std::size_t len, off_t ofs, Op op)
{
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = op(fd, buff + done, len - done, ofs + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

off_t offset_of(DWORD sector) { return static_cast<off_t>(sector) * static_cast<off_t>(kSector); }

}  // namespace

ImageDisk::~ImageDisk() { close(); }

bool ImageDisk::open(const char* path, bool writable, bool sparse)
{
    close();
    const int fd = ::open(path, writable ? O_RDWR : O_RDONLY);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<unsigned long long>(st.st_size) / kSector > 0xFFFFFFFFull) {
        ::close(fd);
        return false;
    }
    use_fd(fd, static_cast<unsigned long long>(st.st_size), writable, sparse);
    owned_ = true;
    return true;
}

void ImageDisk::use_fd(int fd, unsigned long long bytes, bool writable, bool sparse)
{
    close();
    fd_ = fd;
    owned_ = false;
    writable_ = writable;
    sparse_ = sparse;
    sectors_ = bytes / kSector > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(bytes / kSector);
    initialised_ = false;
}

void ImageDisk::close()
{
    if (fd_ >= 0 && owned_) {
        if (writable_) ::fsync(fd_);
        ::close(fd_);
    }
    fd_ = -1;
    owned_ = false;
    sectors_ = 0;
    initialised_ = false;
}

DSTATUS ImageDisk::initialize()
{
    if (fd_ < 0) return STAT_NOINIT | STAT_NODISK;
    initialised_ = true;
    return writable_ ? 0 : STAT_PROTECT;
}

DSTATUS ImageDisk::status()
{
    if (fd_ < 0) return STAT_NOINIT | STAT_NODISK;
    DSTATUS s = initialised_ ? 0 : STAT_NOINIT;
    if (!writable_) s |= STAT_PROTECT;
    return s;
}

DRESULT ImageDisk::read(BYTE* buff, DWORD sector, UINT count)
{
    if (!disk_range_ok(sector, count, sectors_)) return RES_PARERR;
    if (!initialised_) return RES_NOTRDY;
    return transfer(fd_, buff, count * kSector, offset_of(sector), ::pread) ? RES_OK : RES_ERROR;
}

// A run of sectors that are all zeros or all not: zeros in a sparse image
// become a hole (which reads as zeros); anything else is written.
bool ImageDisk::write_run(const BYTE* buff, DWORD sector, UINT count, bool zeros)
{
    const off_t len = offset_of(count);
    if (zeros && sparse_ && ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset_of(sector), len) == 0)
        return true;
    return transfer(fd_, buff, static_cast<std::size_t>(len), offset_of(sector), ::pwrite);
}

DRESULT ImageDisk::write(const BYTE* buff, DWORD sector, UINT count)
{
    if (!disk_range_ok(sector, count, sectors_)) return RES_PARERR;
    if (!initialised_) return RES_NOTRDY;
    if (!writable_) return RES_WRPRT;
    if (!sparse_) return transfer(fd_, buff, count * kSector, offset_of(sector), ::pwrite) ? RES_OK : RES_ERROR;
    UINT start = 0;
    while (start < count) {
        const bool zeros = zero_sector(buff + start * kSector);
        UINT end = start + 1;
        while (end < count && zero_sector(buff + end * kSector) == zeros) end++;
        if (!write_run(buff + start * kSector, sector + start, end - start, zeros)) return RES_ERROR;
        start = end;
    }
    return RES_OK;
}

DRESULT ImageDisk::sync()
{
    // Every write is already in the file, visible to other programs;
    // flushing to stable storage is left to close(), since a flush per
    // volume sync would cost milliseconds each.
    return initialised_ ? RES_OK : RES_NOTRDY;
}

DRESULT ImageDisk::sector_count(DWORD* count)
{
    if (!initialised_) return RES_NOTRDY;
    *count = sectors_;
    return RES_OK;
}

DRESULT ImageDisk::erase_block(DWORD* sectors)
{
    if (!initialised_) return RES_NOTRDY;
    *sectors = 1;
    return RES_OK;
}
