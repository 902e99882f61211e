#pragma once
// Cost of instruction fetches (and data loads) from flash: the flash wait
// states CHECON.PFMWS sets, less what the prefetch cache saves. The model:
// flash is read a 16-byte line at a time; a line already in the cache
// (cacheable KSEG0 code with Config.K0 = 3) or fetched ahead by predictive
// prefetch costs nothing once it has arrived; any other line costs the wait
// states. The core asks only when execution enters a new line.
#include <cstdint>

#include "sim/cpu/core_host.h"
#include "sim/cpu/m4k_config.h"

namespace m4k {

class FetchTiming {
public:
    FetchTiming() { reset(); }
    void reset();
    void configure(unsigned wait_states, unsigned prefetch);

    // Execution enters flash line `line` (physical address >> 4) at `now`;
    // returns the stall in cycles.
    unsigned enter_line(uint32_t line, bool cacheable, Cycle now);
    // A data load from flash line `line`; returns the stall in cycles.
    unsigned data_load(uint32_t line, bool cacheable);
    // Idle skipping moved time forward by `delta` with the same fetches
    // repeating: keep in-flight prefetches at the same distance.
    void shift_time(Cycle delta) { prefetch_ready_ += delta; }
    // No prefetch still in flight at `now`.
    bool settled(Cycle now) const { return prefetch_ready_ <= now; }

private:
    bool contains(uint32_t line);
    void insert(uint32_t line);

    unsigned wait_ = config::kResetFlashWaitStates;
    unsigned prefetch_ = config::kResetPrefetch;
    uint32_t tags_[config::kPrefetchLines];
    uint64_t used_[config::kPrefetchLines];
    uint64_t use_clock_ = 0;
    uint32_t prefetched_line_ = ~0u;
    Cycle prefetch_ready_ = 0;
};

} // namespace m4k
