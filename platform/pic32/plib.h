#pragma once
// The peripheral-library calls the firmware uses, with the effects it relies on.
// Written once on top of the register names and the core primitives, so both
// backends share the same code.
#include <cstdint>

// SpiChnOpen channels and flags (flags are SPIxCON bits).
constexpr int SPI_CHANNEL1 = 1;
constexpr int SPI_CHANNEL2 = 2;
constexpr uint32_t SPI_OPEN_MSTEN = 1u << 5;     // master
constexpr uint32_t SPI_OPEN_CKP_HIGH = 1u << 6;  // clock idles high
constexpr uint32_t SPI_OPEN_CKE_REV = 1u << 8;   // output changes on the active-to-idle edge
constexpr uint32_t SPI_OPEN_SMP_END = 1u << 9;   // input sampled at the end of the bit time
constexpr uint32_t SPI_OPEN_MODE16 = 1u << 10;
constexpr uint32_t SPI_OPEN_MODE32 = 1u << 11;
constexpr uint32_t SPI_OPEN_ON = 1u << 15;

// Peripheral-bus divider codes for OSCSetPBDIV (the OSCCON.PBDIV field in place).
constexpr uint32_t OSC_PB_DIV_1 = 0u << 19;
constexpr uint32_t OSC_PB_DIV_2 = 1u << 19;
constexpr uint32_t OSC_PB_DIV_4 = 2u << 19;
constexpr uint32_t OSC_PB_DIV_8 = 3u << 19;

// Configure SPI channel `chn`: module off, receive buffer emptied,
// SPIxBRG = srcClkDiv / 2 - 1, SPIxCON = flags. The caller switches it on.
void SpiChnOpen(int chn, uint32_t flags, uint32_t srcClkDiv);

// Core timer: count = 0, compare = period.
void OpenCoreTimer(uint32_t period);
// Core timer: compare += period (the next match exactly one period after the last).
void UpdateCoreTimer(uint32_t period);

// Multi-vector mode on, interrupts enabled globally.
void INTEnableSystemMultiVectoredInt();
// Disable interrupts; returns the previous CPU status word (bit 0: interrupts were on).
uint32_t INTDisableInterrupts();
void INTEnableInterrupts();
// Re-enable interrupts only if bit 0 of `status` is set.
void INTRestoreInterrupts(uint32_t status);

// Make KSEG0 cacheable.
void CheKseg0CacheOn();

// Peripheral-bus divider behind the SYSKEY unlock, with DMA suspended and
// interrupts masked around it.
void OSCSetPBDIV(uint32_t oscPbDiv);

// Clock, bus and cache set-up for `sys_clock` Hz: bus divider, flash wait
// states, no data-RAM wait state, predictive prefetch, KSEG0 cached.
// Returns the peripheral-bus clock in Hz.
uint32_t SYSTEMConfigPerformance(uint32_t sys_clock);
