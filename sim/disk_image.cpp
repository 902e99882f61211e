#include "sim/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {

MemoryImage::MemoryImage(uint64_t size) : size_(size) {}

MemoryImage::MemoryImage(const std::vector<uint8_t>& bytes) : size_(bytes.size()) {
    if (!bytes.empty()) write(0, bytes.data(), bytes.size());
}

bool MemoryImage::read(uint64_t offset, uint8_t* dst, size_t n) {
    if (!in_range(offset, n)) return false;
    while (n > 0) {
        const uint64_t index = offset / kChunk;
        const size_t at = static_cast<size_t>(offset % kChunk);
        const size_t part = std::min<size_t>(n, kChunk - at);
        const auto it = chunks_.find(index);
        if (it == chunks_.end())
            std::memset(dst, 0, part);
        else
            std::memcpy(dst, it->second.get() + at, part);
        dst += part;
        offset += part;
        n -= part;
    }
    return true;
}

bool MemoryImage::write(uint64_t offset, const uint8_t* src, size_t n) {
    if (!in_range(offset, n)) return false;
    while (n > 0) {
        const uint64_t index = offset / kChunk;
        const size_t at = static_cast<size_t>(offset % kChunk);
        const size_t part = std::min<size_t>(n, kChunk - at);
        auto& chunk = chunks_[index];
        if (!chunk) chunk = std::make_unique<uint8_t[]>(kChunk);  // zero-filled
        std::memcpy(chunk.get() + at, src, part);
        src += part;
        offset += part;
        n -= part;
    }
    return true;
}

std::unique_ptr<FileImage> FileImage::open(const std::string& path, std::string& error, bool writable) {
    const int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        ::close(fd);
        return nullptr;
    }
    if (st.st_size <= 0) {
        error = path + ": empty image";
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FileImage>(new FileImage(fd, static_cast<uint64_t>(st.st_size)));
}

FileImage::~FileImage() { ::close(fd_); }

bool FileImage::read(uint64_t offset, uint8_t* dst, size_t n) {
    if (!in_range(offset, n)) return false;
    while (n > 0) {
        const ssize_t got = ::pread(fd_, dst, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        dst += got;
        offset += static_cast<uint64_t>(got);
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool FileImage::write(uint64_t offset, const uint8_t* src, size_t n) {
    if (!in_range(offset, n)) return false;  // never extends the file
    while (n > 0) {
        const ssize_t put = ::pwrite(fd_, src, n, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        src += put;
        offset += static_cast<uint64_t>(put);
        n -= static_cast<size_t>(put);
    }
    return true;
}

}  // namespace sim
