// The classification follows the formatter's rules: the FAT type comes from
// the volume's cluster count before its tables are counted; FAT12 fails only
// when the tables and one cluster do not fit, FAT16 and FAT32 when the count
// left after the tables drops below the type's minimum, and FAT32 when there
// are more clusters than its entries can number.
#include "tools/common/format_limits.h"

namespace tools {
namespace {

constexpr uint64_t kPartitionStart = 63;  // sectors in front of a partitioned volume
constexpr uint64_t kMinFat16Clusters = 0xFF6;
constexpr uint64_t kMinFat32Clusters = 0xFFF6;
constexpr uint64_t kMaxFat32Clusters = 0x0FFFFFF5;

} // namespace

bool valid_cluster_bytes(uint64_t bytes)
{
    return bytes >= kMinClusterBytes && bytes <= kMaxClusterBytes && (bytes & (bytes - 1)) == 0;
}

std::string size_text(uint64_t bytes)
{
    static const char units[] = {'T', 'G', 'M', 'K'};
    for (int i = 0; i < 4; i++) {
        const uint64_t unit = 1ull << (10 * (4 - i));
        if (bytes >= unit && bytes % unit == 0) return std::to_string(bytes / unit) + units[i];
    }
    return std::to_string(bytes) + " bytes";
}

std::string format_refusal(const std::string& what, uint64_t card_bytes, bool whole_card, uint32_t cluster_bytes,
                           const std::string& size_option, const std::string& cluster_option)
{
    const std::string change_size = size_option.empty() ? "a card of another size" : "another " + size_option;
    const std::string or_cluster = cluster_option.empty() ? "" : " or " + cluster_option;
    const std::string size = what + " " + size_text(card_bytes);
    if (card_bytes < kMinVolumeBytes)
        return size + " too small for a FAT volume (at least " + size_text(kMinVolumeBytes) + ")";
    const uint64_t sectors = card_bytes / 512 - (whole_card ? 0 : kPartitionStart);
    if (cluster_bytes == 0)
        return size + ": its cluster count lands just below the minimum of its FAT type (" +
               std::to_string(kMinFat16Clusters) + " for FAT16, " + std::to_string(kMinFat32Clusters) +
               " for FAT32) once the tables are counted; choose " + change_size + or_cluster;
    const uint64_t clusters = sectors / (cluster_bytes / 512);
    const std::string per = " clusters of " + std::to_string(cluster_bytes) + " bytes";
    if (clusters > kMaxFat32Clusters)
        return size + ": " + std::to_string(clusters) + per + " are more than FAT32 can number (" +
               std::to_string(kMaxFat32Clusters) + "); choose larger clusters" +
               (cluster_option.empty() ? "" : " with " + cluster_option);
    if (clusters < kMinFat16Clusters)
        return size + " too small for the FAT tables and one cluster of " +
               std::to_string(cluster_bytes) + " bytes; choose a larger " +
               (size_option.empty() ? "card" : size_option) +
               (cluster_option.empty() ? "" : " or smaller clusters with " + cluster_option);
    const bool fat32 = clusters >= kMinFat32Clusters;
    return size + ": with clusters of " + std::to_string(cluster_bytes) + " bytes the count lands below the " +
           (fat32 ? "FAT32 minimum of " + std::to_string(kMinFat32Clusters)
                  : "FAT16 minimum of " + std::to_string(kMinFat16Clusters)) +
           " once the tables are counted; choose " + change_size + or_cluster;
}

} // namespace tools
