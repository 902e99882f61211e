#pragma once
// Running firmware code on a simulated board inside a test.
#include <functional>

#include "sim/board.h"

namespace test_support {

// Starts the 1 ms tick on `board` the way main does (vector installed, core
// timer at 40,000 counts, priority 2, interrupts on in multi-vector mode).
void start_tick(sim::Board& board);

// Runs `body` in a new process (this test alone, re-executed), so firmware
// globals (clock, driver and volume state, function statics) start from
// their power-up values. Failures inside are reported by the new process;
// the call fails the test when it did.
void run_isolated(const std::function<void()>& body);

}  // namespace test_support
