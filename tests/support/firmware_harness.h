#pragma once
// Running firmware code on a simulated board inside a test.
#include <functional>

#include "platform/pic32/sim/compiled_cpu.h"

namespace test_support {

// Starts the 1 ms tick the way the firmware does (CoreTimerHandler on its
// vector of `cpu`, interrupts on in multi-vector mode, then tick_start()).
void start_tick(sim::CompiledCpu& cpu);

// For a table of faults: `reported` is among the board's violations (nullptr:
// there are none). `what` names the case.
void expect_violation(const sim::Board& board, const char* what, const char* reported);

// Runs `body` in a new process (this test alone, re-executed), so firmware
// globals (clock, driver and volume state, function statics) start from
// their power-up values. Failures inside are reported by the new process;
// the call fails the test when it did.
void run_isolated(const std::function<void()>& body);

}  // namespace test_support
