// Power cut after the Nth sector the card stores, for cut points spread over
// the whole workload (bench/power_loss tries every one): the volume mounts,
// synced files read back exactly, nothing hangs.
#include <gtest/gtest.h>

#include "workloads/power_loss.h"

namespace {

// Cut points `stride` apart, plus the first and last few.
void cut_across_the_workload(power_loss::Workload& workload, uint64_t stride)
{
    const uint64_t total = workload.total_writes();
    ASSERT_GT(total, 50u) << "the workload stores too little to be worth cutting";
    for (uint64_t n = 1; n <= total + 1; n += (n < 4 || n + 4 > total) ? 1 : stride) {
        const power_loss::CutOutcome o = workload.run(n);
        SCOPED_TRACE("cut after " + std::to_string(n) + " sectors, in " + o.step);
        EXPECT_EQ(o.failure, "");
        EXPECT_TRUE(o.mounted || o.no_filesystem);
        for (const std::string& lost : o.lost) ADD_FAILURE() << "synced file lost: " << lost;
        EXPECT_TRUE(o.fsck_status == 0 || o.fsck_status == 1 || o.no_filesystem) << "fsck.fat could not check the card";
        // A format cut short leaves no file system, not stale tables under
        // a new boot sector.
        if (o.step == "f_mkfs" && o.mounted) {
            EXPECT_EQ(o.fsck_status, 0) << "a format cut short mounts over stale tables";
        }
    }
}

TEST(PowerLoss, SyncedFilesSurviveACutAnywhereOnFat16)
{
    power_loss::Workload workload(16);
    cut_across_the_workload(workload, 3);
}

TEST(PowerLoss, SyncedFilesSurviveACutAnywhereOnFat32)
{
    power_loss::Workload workload(32);
    cut_across_the_workload(workload, 11);
}

TEST(PowerLoss, FsckFindingsAreClassified)
{
    const std::string report =
        "fsck.fat 4.2 (2021-01-31)\n"
        "/DIR/LOG.BIN\n"
        "  File size is 4000 bytes, cluster chain length is 1536 bytes.\n"
        "  Truncating file to 1536 bytes.\n"
        "Reclaimed 3 unused clusters (1536 bytes) in 1 chain.\n"
        "Free cluster summary wrong (100 vs. really 97)\n"
        "Something nobody has seen\n";
    const std::vector<std::string> kinds = power_loss::classify_fsck(report);
    EXPECT_EQ(kinds, (std::vector<std::string>{"file size vs. chain", "free cluster count", "lost clusters",
                                               "other: Something nobody has seen"}));
}

}  // namespace
