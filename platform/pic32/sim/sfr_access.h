#pragma once
// Simulation backend: every register access and core primitive is a call into
// the CompiledCpu bound to a simulated board (compiled_cpu.h), which advances
// the board's clock, lets the models react and delivers interrupts between
// accesses.
#include <cstdint>

namespace pic32_sim {

uint32_t sfr_read(uint32_t addr);
void sfr_write(uint32_t addr, uint32_t value);
uint32_t cp0_read(int reg);
void cp0_write(int reg, uint32_t value);
uint32_t cpu_di();
void cpu_ei();
void cpu_kseg0(uint32_t k0);
void nop();

// A register as an lvalue-like handle: reads and writes become bus cycles.
struct Sfr {
    uint32_t addr;
    operator uint32_t() const { return sfr_read(addr); }
    const Sfr& operator=(uint32_t v) const {
        sfr_write(addr, v);
        return *this;
    }
    const Sfr& operator|=(uint32_t v) const { return *this = (sfr_read(addr) | v); }
    const Sfr& operator&=(uint32_t v) const { return *this = (sfr_read(addr) & v); }
    const Sfr& operator^=(uint32_t v) const { return *this = (sfr_read(addr) ^ v); }
};

}  // namespace pic32_sim

#define PIC32_SFR(addr) (::pic32_sim::Sfr{(addr)})

// The board calls the handler like a function when it delivers the interrupt.
#define PIC32_ISR

inline uint32_t cp0_count() { return pic32_sim::cp0_read(9); }
inline void cp0_set_count(uint32_t v) { pic32_sim::cp0_write(9, v); }
inline uint32_t cp0_compare() { return pic32_sim::cp0_read(11); }
inline void cp0_set_compare(uint32_t v) { pic32_sim::cp0_write(11, v); }
inline uint32_t cpu_disable_interrupts() { return pic32_sim::cpu_di(); }
inline void cpu_enable_interrupts() { pic32_sim::cpu_ei(); }
inline void cpu_set_kseg0_cacheable() { pic32_sim::cpu_kseg0(3); }
inline void Nop() { pic32_sim::nop(); }
