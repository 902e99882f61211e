// A long differential run of the core against qemu-mipsel:
//   m4k_qemu_diff [seed] [sequences]
// Prints each mismatching sequence (up to ten) and a summary line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qemu/sequences.h"

int main(int argc, char** argv) {
    const uint32_t seed = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0)) : 1;
    const unsigned count = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 0)) : 100000;
    std::mt19937 rng(seed);
    unsigned done = 0, failed = 0;
    while (done < count) {
        const unsigned batch = std::min(2000u, count - done);
        std::vector<cpudiff::Sequence> seqs;
        for (unsigned i = 0; i < batch; ++i)
            seqs.push_back(cpudiff::generate(rng, i % 2 ? cpudiff::Shape::Branchy : cpudiff::Shape::StraightLine,
                                             8 + rng() % 56));
        std::string error;
        const auto peer = cpudiff::run_on_qemu(seqs, CPU_DIFF_HARNESS, error);
        if (peer.size() != seqs.size()) {
            std::fprintf(stderr, "m4k_qemu_diff: %s\n", error.c_str());
            return 2;
        }
        const auto ours = cpudiff::run_on_core(seqs);
        for (unsigned i = 0; i < batch; ++i) {
            const std::string diff = cpudiff::compare(ours[i], peer[i]);
            if (diff.empty()) continue;
            if (++failed <= 10)
                std::printf("sequence %u:\n%s%s\n", done + i, cpudiff::listing(seqs[i]).c_str(), diff.c_str());
        }
        done += batch;
    }
    std::printf("seed %u: %u sequences, %u differ\n", seed, done, failed);
    return failed ? 1 : 0;
}
