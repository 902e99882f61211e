#pragma once
// The 1 ms tick and the software calendar clock.
#include <cstdint>

#include "fatfs/integer.h"
#include "platform/pic32/pic32.h"

// Core-timer counts in 1 ms: the core timer runs at half the 80 MHz system clock.
constexpr uint32_t CORE_TICKS_PER_MS = 40000;

// Calendar clock, advanced by the tick; starts at 22 November 2011, 00:00:00.
extern volatile uint8_t rtcYear;  // years since 1900
extern volatile uint8_t rtcMon;   // 1..12
extern volatile uint8_t rtcMday;  // 1..31
extern volatile uint8_t rtcHour;  // 0..23
extern volatile uint8_t rtcMin;   // 0..59
extern volatile uint8_t rtcSec;   // 0..59
// Milliseconds since the last delayms began.
extern volatile uint32_t tack;

// Core-timer interrupt, vector 0, priority 2: every millisecond.
constexpr int CORE_TIMER_VECTOR = 0;
extern "C" PIC32_ISR void CoreTimerHandler();

// Starts the 1 ms tick: core timer at CORE_TICKS_PER_MS counts, its flag
// cleared, priority 2, subpriority 0, interrupt enabled. Interrupts must be on
// (multi-vector mode) for it to run.
void tick_start();

// Busy-waits between i - 1 and i milliseconds (main flow only, interrupts on).
void delayms(unsigned int i);

// get_fattime() is declared in fatfs/diskio.h.
