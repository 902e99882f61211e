#pragma once
#include "sim/board.h"

namespace sim {
// Puts the firmware's interrupt routines on the board's vectors (vector 0:
// CoreTimerHandler), as the chip's vector table does.
void install_firmware_vectors(Board& board);
}  // namespace sim
