#pragma once
// Chip backend: a register is the word at its KSEG1 address; the core
// primitives are single MIPS32 instructions.
#include <cstdint>

#define PIC32_SFR(addr) (*reinterpret_cast<volatile uint32_t*>(addr))

// Interrupt routine: saves and restores the interrupted context, runs at the
// requested priority level and returns with eret.
#define PIC32_ISR __attribute__((interrupt))

inline uint32_t cp0_count() {
    uint32_t v;
    __asm__ volatile("mfc0 %0, $9" : "=r"(v));
    return v;
}
inline void cp0_set_count(uint32_t v) { __asm__ volatile("mtc0 %0, $9\n\tehb" : : "r"(v) : "memory"); }
inline uint32_t cp0_compare() {
    uint32_t v;
    __asm__ volatile("mfc0 %0, $11" : "=r"(v));
    return v;
}
inline void cp0_set_compare(uint32_t v) { __asm__ volatile("mtc0 %0, $11\n\tehb" : : "r"(v) : "memory"); }

inline uint32_t cpu_disable_interrupts() {
    uint32_t status;
    __asm__ volatile("di %0\n\tehb" : "=r"(status) : : "memory");
    return status;
}
inline void cpu_enable_interrupts() { __asm__ volatile("ei\n\tehb" : : : "memory"); }

// Config.K0 = 3: KSEG0 fetches go through the prefetch cache.
inline void cpu_set_kseg0_cacheable() {
    uint32_t config;
    __asm__ volatile("mfc0 %0, $16" : "=r"(config));
    config = (config & ~7u) | 3u;
    __asm__ volatile("mtc0 %0, $16\n\tehb" : : "r"(config) : "memory");
}

// One idle cycle.
inline void Nop() { __asm__ volatile("nop"); }
