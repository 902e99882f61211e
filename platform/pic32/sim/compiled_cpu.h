#pragma once
// Drives a board with the firmware compiled for the host: the CPU side of the
// simulation backend. While a CompiledCpu exists, every register access,
// Nop() and CP0 primitive of the firmware goes to it, and through it to its
// board:
//
//   sim::Board board;
//   sim::CompiledCpu cpu(board);
//   cpu.set_vector(0, &CoreTimerHandler);
//   cpu.run([] { firmware_main(); });
//
// It owns what the chip's core owns — CP0 Status (IE, IPL), Count/Compare at
// half the system clock, Config.K0 and the vector table — and estimates time:
// each register access costs kAccessCycles, a Nop() one cycle. When the
// firmware polls (the same register read again with the same value, or a
// Nop() spin) nothing can change before the next scheduled event, so the clock
// jumps straight to it. Interrupts are delivered between two accesses, as the
// chip takes them between two instructions: the handler is called like a
// function at the requested level.
#include <cstdint>
#include <functional>

#include "sim/board.h"

namespace sim {

// Thrown out of a register access when the board ends the run; the
// firmware's main never returns on its own.
struct RunEnded {};

class CompiledCpu {
public:
    // Binds the simulation backend to `board` for the lifetime of this
    // object. One at a time (std::logic_error otherwise).
    explicit CompiledCpu(Board& board);
    ~CompiledCpu();
    CompiledCpu(const CompiledCpu&) = delete;
    CompiledCpu& operator=(const CompiledCpu&) = delete;

    // The CPU the backend is bound to; null when none.
    static CompiledCpu* bound() { return bound_; }
    Board& board() const { return board_; }

    // The vector table: `handler` runs for interrupts on `vector` (0..63).
    void set_vector(int vector, void (*handler)());

    // Runs `entry` until the board ends the run. True when the board ended
    // it, false if `entry` returned.
    bool run(const std::function<void()>& entry);
    // Lets `cycles` of board time pass with the CPU idle (from a test,
    // outside the firmware): events run and interrupts are taken.
    void advance(Cycle cycles) { tick(cycles); }

    // ---- the simulation backend's calls
    uint32_t sfr_read(uint32_t address);
    void sfr_write(uint32_t address, uint32_t value);
    void nop();
    uint32_t cp0_read(int reg);
    void cp0_write(int reg, uint32_t value);
    uint32_t di();
    void ei();

    // ---- state
    uint32_t status() const { return status_; }  // CP0 Status: IE (bit 0), IPL (bits 15:10)
    uint32_t kseg0_mode() const { return config_k0_; }
    uint32_t count() const { return count_origin_ + static_cast<uint32_t>(board_.now() >> 1); }
    uint64_t interrupts_delivered() const { return interrupts_delivered_; }

    // Cycles one register access costs: the load or store and the few
    // instructions around it. The one estimate of the compiled firmware's time.
    static constexpr Cycle kAccessCycles = 2;
    // From the interrupt request to the handler's first statement (exception
    // entry, prologue saving the context).
    static constexpr Cycle kInterruptEntryCycles = 20;

private:
    static constexpr uint32_t kStatusIe = 1u << 0;
    static constexpr uint32_t kStatusIplShift = 10, kStatusIplMask = 0x3Fu << 10;

    void tick(Cycle cycles) { reach(board_.now() + cycles); }
    // The board catches up with the CPU at `when`; then the core timer and
    // the interrupt controller get their say.
    void reach(Cycle when) {
        board_.advance_to(when);
        if (board_.finished()) throw RunEnded{};
        if (when >= core_timer_at_) core_timer_due(when);
        if ((status_ & kStatusIe) &&
            board_.interrupt_request().level > ((status_ & kStatusIplMask) >> kStatusIplShift))
            take_interrupt();
    }
    void core_timer_due(Cycle when);
    void take_interrupt();
    void skip_to_next_event();
    void schedule_core_timer();

    static inline CompiledCpu* bound_ = nullptr;

    Board& board_;
    uint32_t status_ = 0;     // IE and IPL
    uint32_t config_k0_ = 2;  // uncached at reset
    uint32_t count_origin_ = 0;
    uint32_t compare_ = 0xFFFFFFFFu;
    Cycle core_timer_at_ = kNever;  // next Count = Compare match
    void (*vectors_[64])() = {};
    bool missing_vector_reported_ = false;
    uint64_t interrupts_delivered_ = 0;

    // Polling detection.
    uint32_t last_read_address_ = 0, last_read_value_ = 0;
    int same_reads_ = 0;
    int nop_streak_ = 0;
};

}  // namespace sim
