#pragma once
// Text of one instruction in the style of GNU objdump -d (ABI register names,
// the usual aliases such as move, li, b, beqz, nop), for traces and fault
// reports. Branch and jump targets are printed as absolute hex addresses.
#include <cstdint>
#include <string>

namespace m4k {

// `pc` is the instruction's own address (for branch and jump targets).
std::string disassemble(uint32_t word, uint32_t pc);

const char* gpr_name(unsigned reg);

} // namespace m4k
