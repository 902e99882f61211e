// Simulation backend of the register layer: every access goes to the
// CompiledCpu bound to it, which drives its board.
#include <cstdio>
#include <cstdlib>

#include "platform/pic32/sim/compiled_cpu.h"
#include "sfr_access.h"

namespace pic32_sim {
namespace {

sim::CompiledCpu& cpu() {
    sim::CompiledCpu* c = sim::CompiledCpu::bound();
    if (!c) {
        std::fprintf(stderr, "firmware touched the hardware with no simulated CPU bound to a board\n");
        std::abort();
    }
    return *c;
}

}  // namespace

uint32_t sfr_read(uint32_t addr) { return cpu().sfr_read(addr); }
void sfr_write(uint32_t addr, uint32_t value) { cpu().sfr_write(addr, value); }
uint32_t cp0_read(int reg) { return cpu().cp0_read(reg); }
void cp0_write(int reg, uint32_t value) { cpu().cp0_write(reg, value); }
uint32_t cpu_di() { return cpu().di(); }
void cpu_ei() { cpu().ei(); }
void cpu_kseg0(uint32_t k0) { cpu().cp0_write(16, k0); }
void nop() { cpu().nop(); }

}  // namespace pic32_sim
