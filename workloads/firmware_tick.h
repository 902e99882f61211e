#pragma once
// The firmware's 1 ms tick on a simulated board, for tests and benchmarks
// that call firmware routines directly instead of running main.
#include "platform/pic32/sim/compiled_cpu.h"

namespace workloads {

// Starts the tick the way the firmware does: CoreTimerHandler on its vector
// of `cpu`, interrupts on in multi-vector mode, then tick_start().
void start_firmware_tick(sim::CompiledCpu& cpu);

}  // namespace workloads
