#include "sim/image_cpu/function_profile.h"

#include <algorithm>
#include <cstdio>

namespace sim {

const m4k::ElfSymbol* FunctionProfile::function_of(uint32_t pc) {
    const uint32_t phys = pc & 0x1FFFFFFFu;
    if (phys - cached_lo_ < cached_hi_ - cached_lo_) return cached_;
    cached_ = cpu_.image().function_at(pc);
    if (cached_) {
        cached_lo_ = cached_->value & 0x1FFFFFFFu;
        cached_hi_ = cached_lo_ + std::max<uint32_t>(cached_->size, 1);
    } else {
        cached_lo_ = phys;
        cached_hi_ = phys + 1;
    }
    return cached_;
}

void FunctionProfile::step(uint32_t pc) {
    const Cycle now = cpu_.core().cycle();
    if (running_) {
        Counts& c = counts_[current_];
        c.cycles += now - since_;
        ++c.instructions;
    }
    current_ = function_of(pc);
    since_ = now;
    running_ = true;
}

void FunctionProfile::pause() {
    if (!running_) return;
    Counts& c = counts_[current_];
    c.cycles += cpu_.core().cycle() - since_;
    ++c.instructions;
    running_ = false;
}

std::vector<FunctionProfile::Entry> FunctionProfile::entries() const {
    std::vector<Entry> out;
    for (const auto& [symbol, counts] : counts_) {
        Entry e;
        e.function = symbol ? cpu_.describe(symbol->value) : "(no symbol)";
        e.cycles = counts.cycles;
        e.instructions = counts.instructions;
        out.push_back(std::move(e));
    }
    std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) {
        return a.cycles != b.cycles ? a.cycles > b.cycles : a.function < b.function;
    });
    return out;
}

uint64_t FunctionProfile::total_cycles() const {
    uint64_t total = 0;
    for (const auto& [symbol, counts] : counts_) total += counts.cycles;
    return total;
}

std::string FunctionProfile::text() const {
    const uint64_t total = total_cycles();
    std::string t = "      cycles      %   instructions  cycles/instr  function\n";
    char line[512];
    for (const Entry& e : entries()) {
        std::snprintf(line, sizeof line, "%12llu  %5.1f  %13llu  %12.2f  %s\n",
                      static_cast<unsigned long long>(e.cycles), total ? 100.0 * e.cycles / total : 0.0,
                      static_cast<unsigned long long>(e.instructions),
                      e.instructions ? static_cast<double>(e.cycles) / e.instructions : 0.0, e.function.c_str());
        t += line;
    }
    return t;
}

}  // namespace sim
