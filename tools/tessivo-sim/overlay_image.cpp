#include "tools/tessivo-sim/overlay_image.h"

#include <algorithm>

namespace tessivo_sim {
namespace {
constexpr uint64_t kSector = 512;
}

std::unique_ptr<OverlayImage> OverlayImage::open(const std::string& path, std::string& error) {
    auto file = sim::FileImage::open(path, error, /*writable=*/false);
    if (!file) return nullptr;
    if (file->size() % kSector != 0) {
        error = path + ": " + std::to_string(file->size()) + " bytes is not a whole number of 512-byte sectors";
        return nullptr;
    }
    return std::unique_ptr<OverlayImage>(new OverlayImage(std::move(file)));
}

OverlayImage::OverlayImage(std::unique_ptr<sim::FileImage> file)
    : file_(std::move(file)), written_(file_->size()), dirty_(static_cast<size_t>(file_->size() / kSector), false) {}

bool OverlayImage::read(uint64_t offset, uint8_t* dst, size_t n) {
    if (!in_range(offset, n)) return false;
    while (n > 0) {
        const uint64_t sector = offset / kSector;
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, kSector - offset % kSector));
        sim::DiskImage& from = dirty_[sector] ? static_cast<sim::DiskImage&>(written_) : *file_;
        if (!from.read(offset, dst, chunk)) return false;
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
        if (!file_->read(s * kSector, sector, kSector)) return false;
        written_.write(s * kSector, sector, kSector);
        dirty_[s] = true;
    }
    return written_.write(offset, src, n);
}

}  // namespace tessivo_sim
