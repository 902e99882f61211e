#include "sim/cpu/fetch_timing.h"

namespace m4k {

namespace {
constexpr uint32_t kNoLine = ~0u;
}

void FetchTiming::reset() {
    for (auto& t : tags_) t = kNoLine;
    for (auto& u : used_) u = 0;
    use_clock_ = 0;
    prefetched_line_ = kNoLine;
    prefetch_ready_ = 0;
}

void FetchTiming::configure(unsigned wait_states, unsigned prefetch) {
    wait_ = wait_states;
    prefetch_ = prefetch & 3;
}

bool FetchTiming::contains(uint32_t line) {
    for (unsigned i = 0; i < config::kPrefetchLines; ++i)
        if (tags_[i] == line) {
            used_[i] = ++use_clock_;
            return true;
        }
    return false;
}

void FetchTiming::insert(uint32_t line) {
    unsigned victim = 0;
    for (unsigned i = 0; i < config::kPrefetchLines; ++i) {
        if (tags_[i] == line) {
            used_[i] = ++use_clock_;
            return;
        }
        if (used_[i] < used_[victim]) victim = i;
    }
    tags_[victim] = line;
    used_[victim] = ++use_clock_;
}

unsigned FetchTiming::enter_line(uint32_t line, bool cacheable, Cycle now) {
    unsigned stall;
    if (cacheable && contains(line))
        stall = 0;
    else if (line == prefetched_line_)
        stall = prefetch_ready_ > now ? static_cast<unsigned>(prefetch_ready_ - now) : 0;
    else
        stall = wait_;
    if (cacheable) insert(line);

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
    if (cacheable && contains(line)) return 0;
    return wait_;
}

} // namespace m4k
