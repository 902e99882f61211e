#include "tools/tessivo-sim/overlay_image.h"

#include <algorithm>

#include "tools/common/extent_copy.h"

namespace tessivo_sim {
namespace {
constexpr uint64_t kSector = 512;
}

std::unique_ptr<OverlayImage> OverlayImage::open(const std::string& path, std::string& error) {
    auto file = tools::DiskFile::open(path, tools::DiskFile::Access::Read, &error);
    if (!file) return nullptr;
    if (file->size() == 0) {
        error = path + ": empty image";
        return nullptr;
    }
    if (file->size() % kSector != 0) {
        error = path + ": " + std::to_string(file->size()) + " bytes is not a whole number of 512-byte sectors";
        return nullptr;
    }
    return std::unique_ptr<OverlayImage>(new OverlayImage(std::move(file)));
}

OverlayImage::OverlayImage(std::unique_ptr<tools::DiskFile> file)
    : file_(std::move(file)), written_(file_->size()), dirty_(static_cast<size_t>(file_->size() / kSector), false) {}

bool OverlayImage::read_file(uint64_t offset, uint8_t* dst, size_t n) {
    return tools::read_fully(file_->fd(), offset, dst, n);
}

bool OverlayImage::read(uint64_t offset, uint8_t* dst, size_t n) {
    if (!in_range(offset, n)) return false;
    while (n > 0) {
        const uint64_t sector = offset / kSector;
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, kSector - offset % kSector));
        const bool ok = dirty_[sector] ? written_.read(offset, dst, chunk) : read_file(offset, dst, chunk);
        if (!ok) return false;
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
        if (!read_file(s * kSector, sector, kSector)) return false;
        written_.write(s * kSector, sector, kSector);
        dirty_[s] = true;
    }
    return written_.write(offset, src, n);
}

}  // namespace tessivo_sim
