#include "sim/image_cpu/instruction_trace.h"

#include <string>

#include "sim/cpu/disasm.h"

namespace sim {

const char* InstructionTrace::header() {
    return "#       cycle   board time  pc        word      instruction                          function\n";
}

void InstructionTrace::step(uint32_t pc) {
    const m4k::Core& core = cpu_.core();
    uint32_t word = 0;
    const bool ok = (pc & 3) == 0 && core.read_memory(pc & 0x1FFFFFFFu, &word, 4);
    const Cycle now = core.cycle();
    // The mnemonic in a column of its own, as objdump prints it, but with spaces.
    std::string text = ok ? m4k::disassemble(word, pc) : "(no instruction)";
    if (const size_t tab = text.find('\t'); tab != std::string::npos)
        text.replace(tab, 1, std::string(tab < 8 ? 8 - tab : 1, ' '));
    std::fprintf(out_, "%13llu %12.9f  %08x  %08x  %-36s %s\n", static_cast<unsigned long long>(now),
                 static_cast<double>(now) / kSysClockHz, pc, word, text.c_str(), cpu_.describe(pc).c_str());
}

}  // namespace sim
