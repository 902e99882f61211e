#include "platform/pic32/sim/vectors.h"

#include "app/tick.h"

namespace sim {
void install_firmware_vectors(Board& board) { board.set_vector(0, &CoreTimerHandler); }

void start_firmware_tick(Board& board) {
    install_firmware_vectors(board);
    INTEnableSystemMultiVectoredInt();
    OpenCoreTimer(CORE_TICKS_PER_MS);
    IFS0CLR = IFS0_CTIF;
    IPC0CLR = IPC0_CTIP_MASK | IPC0_CTIS_MASK;
    IPC0SET = 2u << IPC0_CTIP_SHIFT;
    IEC0SET = IEC0_CTIE;
}
}  // namespace sim
