// The instruction set against an independent peer: random sequences run on
// our core and under qemu-mipsel (-cpu M14K), registers, HI/LO, memory and
// traps compared.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "qemu/sequences.h"

namespace {

void run_batches(cpudiff::Shape shape, uint32_t seed, unsigned batches, unsigned per_batch) {
    if (!std::filesystem::exists(CPU_DIFF_HARNESS) || std::system("command -v qemu-mipsel >/dev/null") != 0)
        GTEST_SKIP() << "qemu-mipsel or the cross-built harness is missing (Debian qemu-user, gcc-mipsel-linux-gnu)";
    std::mt19937 rng(seed);
    unsigned mismatches = 0;
    for (unsigned b = 0; b < batches; ++b) {
        std::vector<cpudiff::Sequence> seqs;
        for (unsigned i = 0; i < per_batch; ++i) seqs.push_back(cpudiff::generate(rng, shape, 8 + rng() % 40));
        std::string error;
        const auto peer = cpudiff::run_on_qemu(seqs, CPU_DIFF_HARNESS, error);
        ASSERT_EQ(peer.size(), seqs.size()) << error;
        const auto ours = cpudiff::run_on_core(seqs);
        for (size_t i = 0; i < seqs.size(); ++i) {
            const std::string diff = cpudiff::compare(ours[i], peer[i]);
            if (diff.empty()) continue;
            if (++mismatches <= 3) ADD_FAILURE() << "sequence " << i << " of batch " << b << ":\n" << cpudiff::listing(seqs[i]) << diff;
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(QemuDiff, StraightLineSequences) { run_batches(cpudiff::Shape::StraightLine, 1, 3, 1000); }
TEST(QemuDiff, BranchySequences) { run_batches(cpudiff::Shape::Branchy, 2, 3, 1000); }

} // namespace
