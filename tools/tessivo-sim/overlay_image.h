#pragma once
// A card image file seen through a copy-on-write layer: the simulated card
// reads the file and keeps what the firmware writes in memory, so a run never
// changes the user's image.
#include <memory>
#include <string>
#include <vector>

#include "sim/disk_image.h"

namespace tessivo_sim {

class OverlayImage : public sim::DiskImage {
public:
    // Opens `path` read-only; null with a message in `error` when it cannot be
    // read, is empty or is not a whole number of 512-byte sectors.
    static std::unique_ptr<OverlayImage> open(const std::string& path, std::string& error);

    uint64_t size() const override { return file_->size(); }
    bool read(uint64_t offset, uint8_t* dst, size_t n) override;
    bool write(uint64_t offset, const uint8_t* src, size_t n) override;

private:
    explicit OverlayImage(std::unique_ptr<sim::FileImage> file);
    std::unique_ptr<sim::FileImage> file_;  // the user's image, never written
    sim::MemoryImage written_;              // sectors written during the run
    std::vector<bool> dirty_;               // per 512-byte sector: taken from written_
};

}  // namespace tessivo_sim
