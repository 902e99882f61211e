#include "sim/cpu/fetch_timing.h"

namespace m4k {

namespace {
constexpr uint32_t kNoLine = ~0u;
}

void FetchTiming::reset() {
    for (auto& t : tags_) t = kNoLine;
    prefetched_line_ = kNoLine;
    prefetch_ready_ = 0;
}

void FetchTiming::configure(unsigned wait_states, unsigned prefetch) {
    wait_ = wait_states;
    prefetch_ = prefetch & 3;
}

bool FetchTiming::hit(uint32_t line) {
    if (tags_[0] == line) return true;
    unsigned i = 1;
    while (i < config::kPrefetchLines && tags_[i] != line) ++i;
    if (i == config::kPrefetchLines) return false;
    for (; i > 0; --i) tags_[i] = tags_[i - 1];
    tags_[0] = line;
    return true;
}

void FetchTiming::fill(uint32_t line) {
    for (unsigned i = config::kPrefetchLines - 1; i > 0; --i) tags_[i] = tags_[i - 1];
    tags_[0] = line;
}

unsigned FetchTiming::enter_line(uint32_t line, bool cacheable, Cycle now) {
    unsigned stall;
    const bool cached = cacheable && hit(line);
    if (cached)
        stall = 0;
    else if (line == prefetched_line_)
        stall = prefetch_ready_ > now ? static_cast<unsigned>(prefetch_ready_ - now) : 0;
    else
        stall = wait_;
    if (cacheable && !cached) fill(line);

    const bool predict = cacheable ? (prefetch_ & 1) : (prefetch_ & 2);
    if (predict && wait_ > 0) {
        // The next line is read while this one executes.
        prefetched_line_ = line + 1;
        prefetch_ready_ = now + stall + wait_;
    } else {
        prefetched_line_ = kNoLine;
    }
    return stall;
}

unsigned FetchTiming::data_load(uint32_t line, bool cacheable) {
    if (cacheable && hit(line)) return 0;
    return wait_;
}

} // namespace m4k
