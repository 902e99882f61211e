#include "platform/pic32/sim/compiled_cpu.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace sim {
namespace {

// A register read this many times in a row with the same value is being
// polled: nothing can change it before the next event.
constexpr int kPollReads = 3;
// A Nop() spin this long without a register access waits for an interrupt.
constexpr int kNopSpin = 64;
// Count runs at half the system clock; a match comes back after a full wrap.
constexpr Cycle kCountWrapCycles = Cycle{1} << 33;

}  // namespace

CompiledCpu::CompiledCpu(Board& board) : board_(board) {
    if (bound_) throw std::logic_error("a CompiledCpu is already bound to the simulation backend");
    bound_ = this;
}

CompiledCpu::~CompiledCpu() { bound_ = nullptr; }

void CompiledCpu::set_vector(int vector, void (*handler)()) {
    if (vector < 0 || vector >= 64) throw std::out_of_range("interrupt vector " + std::to_string(vector));
    vectors_[vector] = handler;
}

bool CompiledCpu::run(const std::function<void()>& entry) {
    try {
        entry();
    } catch (const RunEnded&) {
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- time

void CompiledCpu::core_timer_due(Cycle when) {
    while (when >= core_timer_at_) {
        board_.core_timer_match();
        core_timer_at_ += kCountWrapCycles;
    }
}

void CompiledCpu::skip_to_next_event() {
    const Cycle next = std::min(board_.next_event(), core_timer_at_);
    if (next == kNever) return;
    reach(std::max(next, board_.now()));
}

// The request is above the current level and interrupts are on.
void CompiledCpu::take_interrupt() {
    const InterruptRequest& request = board_.interrupt_request();
    void (*handler)() = vectors_[request.vector];
    if (!handler) {
        if (!missing_vector_reported_)
            board_.violation("cpu", "interrupt taken on vector " + std::to_string(request.vector) +
                                        ", which has no handler");
        missing_vector_reported_ = true;
        return;
    }
    // The handler runs at the request's level; eret restores the interrupted status.
    const uint32_t saved = status_;
    status_ = (status_ & ~kStatusIplMask) | (uint32_t{request.level} << kStatusIplShift);
    ++interrupts_delivered_;
    tick(kInterruptEntryCycles);
    handler();
    status_ = saved;
}

// ---------------------------------------------------------------- registers

uint32_t CompiledCpu::sfr_read(uint32_t address) {
    nop_streak_ = 0;
    uint32_t value = 0;
    bool side_effect = false;
    board_.load(physical(address), 4, value, side_effect);

    if (address == last_read_address_ && value == last_read_value_) {
        if (++same_reads_ >= kPollReads) {
            same_reads_ = 0;
            tick(kAccessCycles);
            skip_to_next_event();
            return value;
        }
    } else {
        last_read_address_ = address;
        last_read_value_ = value;
        same_reads_ = 0;
    }
    tick(kAccessCycles);
    return value;
}

void CompiledCpu::sfr_write(uint32_t address, uint32_t value) {
    nop_streak_ = 0;
    last_read_address_ = 0;
    same_reads_ = 0;
    board_.store(physical(address), 4, value);
    tick(kAccessCycles);
}

void CompiledCpu::nop() {
    if (++nop_streak_ >= kNopSpin) {
        nop_streak_ = 0;
        tick(1);
        skip_to_next_event();
        return;
    }
    tick(1);
}

// ---------------------------------------------------------------- CP0

void CompiledCpu::schedule_core_timer() {
    const uint32_t delta = compare_ - count();
    const Cycle now = board_.now();
    core_timer_at_ = delta == 0 ? now : (((now >> 1) + delta) << 1);
}

uint32_t CompiledCpu::cp0_read(int reg) {
    tick(1);
    switch (reg) {
        case 9: return count();
        case 11: return compare_;
        case 12: return status_;
        case 16: return config_k0_;
        default: return 0;
    }
}

void CompiledCpu::cp0_write(int reg, uint32_t value) {
    switch (reg) {
        case 9:
            count_origin_ = value - static_cast<uint32_t>(board_.now() >> 1);
            schedule_core_timer();
            break;
        case 11:
            compare_ = value;
            board_.core_timer_request_dropped();  // writing Compare clears the timer's request
            schedule_core_timer();
            break;
        case 12: status_ = value; break;
        case 16: config_k0_ = value & 7u; break;
        default: break;
    }
    tick(1);
}

uint32_t CompiledCpu::di() {
    const uint32_t old = status_;
    status_ &= ~kStatusIe;
    tick(1);
    return old;
}

void CompiledCpu::ei() {
    status_ |= kStatusIe;
    tick(1);
}

}  // namespace sim
