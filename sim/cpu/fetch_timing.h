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
    // The predictive prefetch as seen from `now`: the line it holds or
    // fetches and the cycles until it arrives. A loop whose iterations see
    // the same state here fetches the same way in every further iteration.
    struct InFlight {
        uint32_t line;
        Cycle wait;
        bool operator==(const InFlight&) const = default;
    };
    InFlight in_flight(Cycle now) const {
        return {prefetched_line_, prefetch_ready_ > now ? prefetch_ready_ - now : 0};
    }

private:
    // Whether `line` is cached; a hit makes it the most recently used.
    bool hit(uint32_t line);
    // Caches `line` as the most recently used, dropping the least recently used.
    void fill(uint32_t line);

    unsigned wait_ = config::kResetFlashWaitStates;
    unsigned prefetch_ = config::kResetPrefetch;
    // Cached lines, most recently used first: a loop's lines stay near the front.
    uint32_t tags_[config::kPrefetchLines];
    uint32_t prefetched_line_ = ~0u;
    Cycle prefetch_ready_ = 0;
};

} // namespace m4k
