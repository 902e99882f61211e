#include "tools/tessivo-sim/overlay_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tessivo_sim {
namespace {
constexpr uint64_t kSector = 512;
}

std::unique_ptr<OverlayImage> OverlayImage::open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        ::close(fd);
        return nullptr;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size == 0 || size % kSector != 0) {
        error = path + ": " + std::to_string(size) + " bytes is not a whole number of 512-byte sectors";
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<OverlayImage>(new OverlayImage(fd, size));
}

OverlayImage::OverlayImage(int fd, uint64_t size)
    : fd_(fd), size_(size), written_(size), dirty_(static_cast<size_t>(size / kSector), false) {}

OverlayImage::~OverlayImage() { ::close(fd_); }

bool OverlayImage::read(uint64_t offset, uint8_t* dst, size_t n) {
    if (!in_range(offset, n)) return false;
    while (n > 0) {
        const uint64_t sector = offset / kSector;
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, kSector - offset % kSector));
        if (dirty_[sector]) {
            if (!written_.read(offset, dst, chunk)) return false;
        } else if (pread(fd_, dst, chunk, static_cast<off_t>(offset)) != static_cast<ssize_t>(chunk)) {
            return false;
        }
        offset += chunk;
        dst += chunk;
        n -= chunk;
    }
    return true;
}

bool OverlayImage::write(uint64_t offset, const uint8_t* src, size_t n) {
    if (!in_range(offset, n)) return false;
    // A partly written sector first takes the file's content.
    for (uint64_t s = offset / kSector; s * kSector < offset + n; ++s) {
        if (dirty_[s]) continue;
        uint8_t sector[kSector];
        if (pread(fd_, sector, kSector, static_cast<off_t>(s * kSector)) != static_cast<ssize_t>(kSector)) return false;
        written_.write(s * kSector, sector, kSector);
        dirty_[s] = true;
    }
    return written_.write(offset, src, n);
}

}  // namespace tessivo_sim
