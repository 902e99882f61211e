#pragma once
// A card image file, or a card's block device, seen through a copy-on-write
// layer: the simulated card reads the file and keeps what the firmware
// writes in memory, so a run never changes the user's image or card.
#include <memory>
#include <string>
#include <vector>

#include "sim/disk_image.h"
#include "tools/common/disk_file.h"

namespace tessivo_sim {

class OverlayImage : public sim::DiskImage {
public:
    // Opens `path` read-only; null with a message in `error` when it cannot be
    // read, is neither a file nor a block device, is empty or is not a whole
    // number of 512-byte sectors.
    static std::unique_ptr<OverlayImage> open(const std::string& path, std::string& error);

    uint64_t size() const override { return file_->size(); }
    bool read(uint64_t offset, uint8_t* dst, size_t n) override;
    bool write(uint64_t offset, const uint8_t* src, size_t n) override;
    // The file as the user named it (for same-file checks).
    const tools::DiskFile& file() const { return *file_; }

private:
    explicit OverlayImage(std::unique_ptr<tools::DiskFile> file);
    bool read_file(uint64_t offset, uint8_t* dst, size_t n);
    std::unique_ptr<tools::DiskFile> file_;  // the user's image, never written
    sim::MemoryImage written_;               // sectors written during the run
    std::vector<bool> dirty_;                // per 512-byte sector: taken from written_
};

}  // namespace tessivo_sim
