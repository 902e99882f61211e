#include <cstdio>

#include "sim/cpu/core_host.h"
#include "sim/cpu/disasm.h"

namespace m4k {

const char* fault_kind_name(FaultKind kind) {
    switch (kind) {
    case FaultKind::ReservedInstruction: return "reserved instruction";
    case FaultKind::CoprocessorUnusable: return "coprocessor unusable";
    case FaultKind::AddressError: return "address error";
    case FaultKind::BusError: return "access outside every mapped region";
    case FaultKind::FetchOutsideMemory: return "instruction fetch outside flash and RAM";
    case FaultKind::FlashStore: return "store into flash";
    case FaultKind::NoHandler: return "exception without a handler";
    case FaultKind::DebugMode: return "debug exception with no debugger attached";
    case FaultKind::StackOverflow: return "stack pointer below its limit";
    case FaultKind::IsaModeSwitch: return "jump into MIPS16e code (not simulated)";
    }
    return "fault";
}

std::string Fault::describe() const {
    char line[256];
    std::snprintf(line, sizeof line, "%s at pc 0x%08x%s: %08x %s; address 0x%08x; cycle %llu\n",
                  fault_kind_name(kind), pc, in_delay_slot ? " (delay slot)" : "", word, disassembly.c_str(),
                  address, static_cast<unsigned long long>(cycle));
    std::string text = line;
    for (unsigned i = 0; i < 32; i += 4) {
        std::snprintf(line, sizeof line, "  %-4s %08x  %-4s %08x  %-4s %08x  %-4s %08x\n", gpr_name(i), regs[i],
                      gpr_name(i + 1), regs[i + 1], gpr_name(i + 2), regs[i + 2], gpr_name(i + 3), regs[i + 3]);
        text += line;
    }
    std::snprintf(line, sizeof line, "  hi   %08x  lo   %08x\n", hi, lo);
    return text + line;
}

} // namespace m4k
