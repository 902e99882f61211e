#include "platform/pic32/sim/vectors.h"

#include "app/tick.h"

namespace sim {
void install_firmware_vectors(Board& board) { board.set_vector(0, &CoreTimerHandler); }
}  // namespace sim
