// Simulation backend of the register layer: every access is forwarded to the
// board that is being simulated.
#include <cstdio>
#include <cstdlib>

#include "sfr_access.h"
#include "sim/board.h"

namespace pic32_sim {
namespace {

sim::Board& board() {
    sim::Board* b = sim::Board::current();
    if (!b) {
        std::fprintf(stderr, "firmware touched the hardware with no simulated board\n");
        std::abort();
    }
    return *b;
}

}  // namespace

uint32_t sfr_read(uint32_t addr) { return board().sfr_read(addr); }
void sfr_write(uint32_t addr, uint32_t value) { board().sfr_write(addr, value); }
uint32_t cp0_read(int reg) { return board().cp0_read(reg); }
void cp0_write(int reg, uint32_t value) { board().cp0_write(reg, value); }
uint32_t cpu_di() { return board().di(); }
void cpu_ei() { board().ei(); }
void cpu_kseg0(uint32_t k0) { board().cp0_write(16, k0); }
void nop() { board().nop(); }

}  // namespace pic32_sim
