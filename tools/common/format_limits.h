// The sizes the FAT module formats, and why it refuses one (FR_MKFS_ABORTED)
// in words that say what to change.
#ifndef TESSIVO_TOOLS_COMMON_FORMAT_LIMITS_H
#define TESSIVO_TOOLS_COMMON_FORMAT_LIMITS_H

#include <cstdint>
#include <string>

namespace tools {

constexpr uint64_t kMinVolumeBytes = 128 * 512;           // smallest image f_mkfs takes
constexpr uint64_t kMaxVolumeBytes = 0xFFFFFFFFull * 512;  // sector numbers are 32-bit
constexpr uint32_t kMinClusterBytes = 512;
constexpr uint32_t kMaxClusterBytes = 128 * 512;

// True for the cluster sizes f_mkfs takes: powers of two from 512 to 64K.
bool valid_cluster_bytes(uint64_t bytes);

// Why f_mkfs refused a card of `card_bytes` (with a partition table unless
// `whole_card`) at cluster size `cluster_bytes` (0: the module's choice):
// the limit hit and what to change, starting "WHAT SIZE" ("card size 16M
// too small ..."). `size_option` and `cluster_option` name the options that
// change them ("--size", "--au"; empty if the program has none).
std::string format_refusal(const std::string& what, uint64_t card_bytes, bool whole_card, uint32_t cluster_bytes,
                           const std::string& size_option, const std::string& cluster_option);

// A size as a user writes it: "16M", or bytes when not a round size.
std::string size_text(uint64_t bytes);

} // namespace tools

#endif
