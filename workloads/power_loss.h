// A scripted workload on a card in the simulated board, cut off from power
// after the Nth sector the card stores, then checked: does the volume mount,
// does every file whose last f_sync succeeded read back exactly, and what
// does fsck.fat say about the damage.
#ifndef TESSIVO_WORKLOADS_POWER_LOSS_H
#define TESSIVO_WORKLOADS_POWER_LOSS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace power_loss {

struct CutOutcome {
    uint64_t cut_after = 0;        // sectors stored before the power went
    std::string step;              // workload step the cut fell into
    bool mounted = false;          // the root directory opened after the cut
    bool no_filesystem = false;    // FR_NO_FILESYSTEM, allowed only during formatting
    int files_checked = 0;         // synced files expected after the cut
    std::vector<std::string> lost; // synced files that did not read back exactly (with why)
    std::string failure;           // a call hung, or an outcome no cut may have
    int fsck_status = -1;          // fsck.fat -n exit status
    std::vector<std::string> fsck_kinds;  // findings, one kind each
};

class Workload {
public:
    // A card with a volume made by mkfs.fat, in a simulated board: FAT16 on
    // a 4 MB card, or (fat_bits 32) FAT32 with the fewest clusters it allows
    // on a 34 MB card.
    explicit Workload(int fat_bits = 16);
    ~Workload();
    Workload(const Workload&) = delete;
    Workload& operator=(const Workload&) = delete;

    // Sectors the card stores during the whole workload without a cut.
    uint64_t total_writes();
    // Runs the workload with the power cut after `n` stored sectors and
    // checks the card afterwards. With POWER_LOSS_FSCK_LOG set in the
    // environment, fsck.fat's report of each cut goes to standard error.
    CutOutcome run(uint64_t n);

private:
    uint64_t card_bytes_;
    std::vector<uint8_t> base_;
    std::string scratch_;  // image file for fsck.fat
};

// A card image of `bytes` holding a FAT16 or FAT32 volume (two FATs, one
// sector per cluster) made by mkfs.fat over the whole card; throws when that
// fails.
std::vector<uint8_t> mkfs_fat_image(uint64_t bytes, int fat_bits = 16);

// fsck.fat -n output reduced to kinds of finding ("lost clusters",
// "file size", ...), each kind once.
std::vector<std::string> classify_fsck(const std::string& output);

}  // namespace power_loss

#endif
