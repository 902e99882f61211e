#include "tools/common/extent_copy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tools {

bool read_fully(int fd, uint64_t offset, void* data, size_t n)
{
    auto* p = static_cast<uint8_t*>(data);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;  // the file ended early
            return false;
        }
        p += got;
        offset += static_cast<uint64_t>(got);
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool write_fully(int fd, uint64_t offset, const void* data, size_t n)
{
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, p, n, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return false;
        }
        p += put;
        offset += static_cast<uint64_t>(put);
        n -= static_cast<size_t>(put);
    }
    return true;
}

bool write_all(int fd, const void* data, size_t n)
{
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t put = ::write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return false;
        }
        p += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

bool copy_data_extents(int from, uint64_t size, int to, std::string* why)
{
    std::vector<uint8_t> buffer(1 << 20);
    uint64_t at = 0;
    while (at < size) {
        // The next range with data: [start, end).
        off_t start = ::lseek(from, static_cast<off_t>(at), SEEK_DATA);
        if (start < 0 && errno == ENXIO) break;  // only a hole is left
        if (start < 0) start = static_cast<off_t>(at);  // holes unknown here: copy all
        off_t end = ::lseek(from, start, SEEK_HOLE);
        if (end < 0) end = static_cast<off_t>(size);
        const uint64_t stop = std::min<uint64_t>(static_cast<uint64_t>(end), size);
        for (uint64_t pos = static_cast<uint64_t>(start); pos < stop;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), stop - pos));
            if (!read_fully(from, pos, buffer.data(), n)) {
                *why = std::string("cannot read the new image: ") + std::strerror(errno);
                return false;
            }
            if (!write_fully(to, pos, buffer.data(), n)) {
                *why = std::string("cannot write: ") + std::strerror(errno);
                return false;
            }
            pos += n;
        }
        at = stop;
    }
    return true;
}

} // namespace tools
