// power_loss_table [STEP]: for a FAT16 and a FAT32 card, runs the reliability workload (files written in
// pieces and synced, mkdir, rename, unlink, truncate, f_mkfs, a file on the
// new volume) on a card in the simulated board, cutting the power after the
// Nth stored sector for every N from 1 to the workload's total (or every
// STEP-th), and prints what the card held after each cut: how many volumes
// mounted, how many synced files were lost, and fsck.fat's findings by kind.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "workloads/power_loss.h"

namespace {

struct Row {
    int cuts = 0, mounted = 0, no_fs = 0, fsck_clean = 0, lost = 0, failures = 0;
};

void print_row(const char* label, const Row& r)
{
    std::printf("%-34s %5d %8d %6d %8d %6d %9d\n", label, r.cuts, r.mounted, r.no_fs, r.fsck_clean, r.lost,
                r.failures);
}

// Prints the table of one card; true when no synced file was lost and no
// cut had an outcome it may not have.
bool table(int fat_bits, uint64_t step)
{
    power_loss::Workload workload(fat_bits);
    const uint64_t total = workload.total_writes();
    const std::string every = step > 1 ? "every " + std::to_string(step) + "th stored sector" : "every stored sector";
    std::printf("FAT%d card: workload stores %llu sectors; power cut after %s, 1..%llu\n\n",
                fat_bits, static_cast<unsigned long long>(total), every.c_str(), static_cast<unsigned long long>(total + 1));

    std::map<std::string, Row> by_step;
    std::vector<std::string> order;
    std::map<std::string, int> kinds;
    std::vector<std::string> details;
    Row all;
    for (uint64_t n = 1; n <= total + 1; n += step ? step : 1) {
        const power_loss::CutOutcome o = workload.run(n);
        if (!by_step.count(o.step)) order.push_back(o.step);
        for (Row* r : {&by_step[o.step], &all}) {
            r->cuts++;
            r->mounted += o.mounted;
            r->no_fs += o.no_filesystem;
            r->fsck_clean += o.fsck_status == 0;
            r->lost += static_cast<int>(o.lost.size());
            r->failures += !o.failure.empty();
        }
        for (const std::string& k : o.fsck_kinds) kinds[k]++;
        for (const std::string& l : o.lost) details.push_back("cut " + std::to_string(n) + ": synced file lost: " + l);
        if (!o.failure.empty()) details.push_back("cut " + std::to_string(n) + ": " + o.failure);
    }

    std::printf("%-34s %5s %8s %6s %8s %6s %9s\n", "cut during", "cuts", "mounted", "no-fs", "fsck-ok", "lost",
                "failures");
    for (const std::string& s : order) print_row(s.c_str(), by_step[s]);
    print_row("all", all);
    std::printf("\nfsck.fat -n findings (cut points showing each kind):\n");
    if (kinds.empty()) std::printf("  none\n");
    for (const auto& [k, n] : kinds) std::printf("  %-40s %d\n", k.c_str(), n);
    for (const std::string& d : details) std::printf("%s\n", d.c_str());
    std::printf("\n");
    return !all.lost && !all.failures;
}

}  // namespace

int main(int argc, char** argv)
{
    const uint64_t step = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    const bool fat16 = table(16, step);
    const bool fat32 = table(32, step);
    return fat16 && fat32 ? 0 : 1;
}
