#pragma once
// A flat profile of an image run: cycles and instructions by function (from
// the ELF symbols). Fed by the core's step hook, so every instruction is
// counted with the cycles it took, stalls, wait states and interrupt entry
// included; idle skipping is off while it is attached.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/image_cpu/image_cpu.h"

namespace sim {

class FunctionProfile {
public:
    explicit FunctionProfile(const ImageCpu& cpu) : cpu_(cpu) {}

    // Before each instruction at `pc` (from the step hook).
    void step(uint32_t pc);
    // The last instruction's cycles are counted up to now; a later step()
    // starts a new stretch.
    void pause();

    struct Entry {
        std::string function;  // demangled; "(no symbol)" for code outside every symbol
        uint64_t cycles = 0;
        uint64_t instructions = 0;
    };
    // Heaviest first.
    std::vector<Entry> entries() const;
    uint64_t total_cycles() const;
    // A table: cycles, share, instructions, function.
    std::string text() const;

private:
    struct Counts {
        uint64_t cycles = 0, instructions = 0;
    };
    const m4k::ElfSymbol* function_of(uint32_t pc);

    const ImageCpu& cpu_;
    std::unordered_map<const m4k::ElfSymbol*, Counts> counts_;
    const m4k::ElfSymbol* current_ = nullptr;
    bool running_ = false;
    Cycle since_ = 0;
    // The function last looked up, as a physical range.
    uint32_t cached_lo_ = 0, cached_hi_ = 0;
    const m4k::ElfSymbol* cached_ = nullptr;
};

}  // namespace sim
