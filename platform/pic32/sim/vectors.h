#pragma once
#include "sim/board.h"

namespace sim {
// Puts the firmware's interrupt routines on the board's vectors (vector 0:
// CoreTimerHandler), as the chip's vector table does.
void install_firmware_vectors(Board& board);

// Installs the vectors and starts the 1 ms tick the way main does (core timer
// at 40,000 counts, priority 2, subpriority 0, interrupts on in multi-vector
// mode), for tests and benchmarks that call firmware routines directly.
void start_firmware_tick(Board& board);
}  // namespace sim
