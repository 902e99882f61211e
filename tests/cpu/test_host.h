#pragma once
// A small board for the core's tests: an SFR window of plain registers with
// an access log, scripted events, and the faults the core reported.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "sim/cpu/core_host.h"
#include "sim/cpu/m4k_core.h"

namespace cputest {

struct IoAccess {
    bool store;
    uint32_t phys;
    uint32_t value;
    m4k::Cycle cycle;
};

class TestHost : public m4k::CoreHost {
public:
    std::map<uint32_t, uint32_t> sfr;       // by physical word address
    std::vector<IoAccess> log;
    std::vector<m4k::Fault> faults;
    std::vector<m4k::Cycle> timer_matches;
    std::vector<m4k::Cycle> events;         // board events still to come, ascending
    std::function<void(m4k::Cycle)> on_event;
    std::function<void(const IoAccess&)> on_store;
    std::function<void(m4k::Cycle)> on_timer;
    std::function<bool(const m4k::Fault&)> on_fault;  // default: stop on every fault
    std::vector<uint32_t> side_effect_reads;          // physical addresses whose reads change the board

    bool io_load(uint32_t phys, unsigned bytes, m4k::Cycle cycle, uint32_t& value, bool& side_effect) override {
        const uint32_t word = sfr.count(phys & ~3u) ? sfr[phys & ~3u] : 0;
        value = word >> (8 * (phys & 3));
        side_effect = std::find(side_effect_reads.begin(), side_effect_reads.end(), phys) != side_effect_reads.end();
        log.push_back({false, phys, value, cycle});
        (void)bytes;
        return true;
    }
    bool io_store(uint32_t phys, unsigned bytes, uint32_t value, m4k::Cycle cycle) override {
        uint32_t& word = sfr[phys & ~3u];
        const unsigned shift = 8 * (phys & 3);
        const uint32_t mask = (bytes == 4 ? 0xFFFFFFFFu : ((1u << (8 * bytes)) - 1)) << shift;
        word = (word & ~mask) | ((value << shift) & mask);
        log.push_back({true, phys, value, cycle});
        if (on_store) on_store(log.back());
        return true;
    }
    m4k::Cycle next_event() override { return events.empty() ? m4k::kNoEvent : events.front(); }
    void advance_to(m4k::Cycle cycle) override {
        while (!events.empty() && events.front() <= cycle) {
            const m4k::Cycle at = events.front();
            events.erase(events.begin());
            if (on_event) on_event(at);
        }
    }
    void core_timer_match(m4k::Cycle cycle) override {
        timer_matches.push_back(cycle);
        if (on_timer) on_timer(cycle);
    }
    bool violation(const m4k::Fault& fault) override {
        faults.push_back(fault);
        return on_fault ? on_fault(fault) : true;
    }
};

// Physical and KSEG addresses used by the hand-written programs.
constexpr uint32_t kFlashPhys = 0x1D000000, kFlashK0 = 0x9D000000, kFlashK1 = 0xBD000000;
constexpr uint32_t kBootK1 = 0xBFC00000;
constexpr uint32_t kRamK0 = 0x80000000;

// A core on a TestHost, with helpers to place code.
struct Machine {
    TestHost host;
    m4k::Core core{host};

    void put(uint32_t vaddr, const std::vector<uint32_t>& words) {
        core.write_memory(vaddr & 0x1FFFFFFFu, words.data(), words.size() * 4);
    }
    uint32_t ram_word(uint32_t vaddr) const {
        uint32_t w = 0;
        core.read_memory(vaddr & 0x1FFFFFFFu, &w, 4);
        return w;
    }
    // Kernel mode, exceptions through EBase = kFlashK0 (BEV = 0), fast timing,
    // execution from `start`.
    void start_at(uint32_t start) {
        core.reset();
        core.cp0_write(m4k::cp0::Status, 0, 0);
        core.cp0_write(m4k::cp0::PRId, 1, kFlashK0);
        core.set_timing({0, 0, 0, 1});
        core.set_pc(start);
    }
};

} // namespace cputest
