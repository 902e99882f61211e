#include "workloads/firmware_tick.h"

#include "app/tick.h"

namespace workloads {

void start_firmware_tick(sim::CompiledCpu& cpu) {
    cpu.set_vector(CORE_TIMER_VECTOR, &CoreTimerHandler);
    INTEnableSystemMultiVectoredInt();
    tick_start();
}

}  // namespace workloads
