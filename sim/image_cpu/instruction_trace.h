#pragma once
// An instruction trace of an image run: one line per instruction executed,
// with the board time, the address, the instruction word, its disassembly
// and the function it belongs to. Fed by the core's step hook.
#include <cstdint>
#include <cstdio>

#include "sim/image_cpu/image_cpu.h"

namespace sim {

class InstructionTrace {
public:
    // Lines go to `out` (left open).
    InstructionTrace(const ImageCpu& cpu, std::FILE* out) : cpu_(cpu), out_(out) {}

    // Before each instruction at `pc` (from the step hook).
    void step(uint32_t pc);

    // The column heads.
    static const char* header();

private:
    const ImageCpu& cpu_;
    std::FILE* out_;
};

}  // namespace sim
