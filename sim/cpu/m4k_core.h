#pragma once
// An instruction-level model of the PIC32MX340F512H's MIPS32 M4K core: the
// MIPS32 Release 2 integer instruction set, CP0 with Count/Compare, exceptions,
// the external interrupt controller interface, two register sets, the fixed
// mapping onto RAM, program flash and boot flash, and cycle counting from
// the M4K's pipeline, multiply/divide unit, flash wait states and prefetch.
//
// Driving it:
//   Core core(host);            // host: the board, see CoreHost
//   load an image (ElfImage::load_into), core.reset();
//   while (...) core.run(until);
// run() executes until the cycle counter reaches `until`, a stop request or a
// fault the host chose to stop on. Board events are handled inside: when the
// clock reaches host.next_event() the core calls host.advance_to(). A
// Count = Compare match calls host.core_timer_match(). The host changes the
// interrupt request with set_interrupt_request() at any time (also from its
// callbacks).
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "sim/cpu/core_host.h"
#include "sim/cpu/decode.h"
#include "sim/cpu/fetch_timing.h"
#include "sim/cpu/memory_map.h"

namespace m4k {

enum class StopReason { Until, Requested, Fault };

// CP0 register numbers (register, select) the core implements.
namespace cp0 {
constexpr unsigned HWREna = 7, BadVAddr = 8, Count = 9, Compare = 11, Status = 12, Cause = 13, EPC = 14,
                   PRId = 15, Config = 16, Debug = 23, DEPC = 24, ErrorEPC = 30, DESAVE = 31;
// Status bits
constexpr uint32_t IE = 1u << 0, EXL = 1u << 1, ERL = 1u << 2, UM = 1u << 4, BEV = 1u << 22, CU0 = 1u << 28;
constexpr unsigned IplShift = 10;
// Cause bits
constexpr uint32_t BD = 1u << 31, TI = 1u << 30, DC = 1u << 27, IV = 1u << 23;
constexpr unsigned RiplShift = 10, ExcShift = 2, CeShift = 28;
// Debug bits
constexpr uint32_t DBD = 1u << 31, DM = 1u << 30, DBp = 1u << 1;
} // namespace cp0

enum ExcCode : unsigned {
    kExcInt = 0, kExcAdEL = 4, kExcAdES = 5, kExcIBE = 6, kExcDBE = 7, kExcSys = 8, kExcBp = 9,
    kExcRI = 10, kExcCpU = 11, kExcOv = 12, kExcTr = 13
};

class Core {
public:
    explicit Core(CoreHost& host);
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // ---- memories (physical addresses)
    // Copies bytes into RAM, program flash or boot flash; false (nothing
    // written) if the span is not wholly inside one of them.
    bool write_memory(uint32_t phys, const void* data, size_t size);
    bool read_memory(uint32_t phys, void* out, size_t size) const;
    // Flash erased (all ones), RAM zero, decoded code forgotten.
    void erase_memories();

    // ---- control
    // Power-on reset: CP0 reset values, PC at the reset vector, cycle 0.
    void reset();
    StopReason run(Cycle until);
    // Ends run() at the next instruction boundary (callable from host callbacks).
    void request_stop();
    // The fault run() stopped on (or the last one reported).
    const Fault& last_fault() const { return fault_; }

    // ---- the board's side
    // The interrupt controller's request: priority level (0 = none), vector
    // number and the register set the handler is to use.
    void set_interrupt_request(unsigned level, unsigned vector, unsigned shadow_set);
    void set_timing(const Timing& timing);
    // Cause.TI: the core timer's request (for a board that follows its level).
    bool timer_request() const { return (cause_ & cp0::TI) != 0; }
    // Board cycle of the next Count = Compare match (kNoEvent while Count is stopped).
    Cycle next_timer_match() const { return timer_match_; }

    // ---- checks and options
    // A stack adjustment that takes $sp below `lowest` is a StackOverflow fault (0: off).
    void set_stack_limit(uint32_t lowest) { sp_limit_ = lowest; }
    // Lowest $sp a stack adjustment produced (0xFFFFFFFF: none yet).
    uint32_t stack_low_water() const { return sp_low_; }
    // Idle-loop skipping (on by default); results are the same either way.
    void set_idle_skip(bool on) { skip_enabled_ = on; }
    // Called before every instruction while set (tracing, debugging); costs
    // nothing while unset.
    void set_step_hook(std::function<void(uint32_t pc)> hook) { step_hook_ = std::move(hook); }

    // ---- state
    Cycle cycle() const { return cycle_; }
    uint64_t instructions() const { return instret_; }
    Cycle skipped_cycles() const { return skipped_; }
    // Instructions of skipped loop iterations (counted in instructions(), never interpreted).
    uint64_t skipped_instructions() const { return skipped_instructions_; }
    uint32_t pc() const { return pc_; }
    void set_pc(uint32_t pc);
    uint32_t gpr(unsigned reg) const { return r_[reg & 31]; }
    void set_gpr(unsigned reg, uint32_t value) { if (reg & 31) r_[reg & 31] = value; }
    uint32_t shadow_gpr(unsigned set, unsigned reg) const { return gprs_[set & 1][reg & 31]; }
    uint32_t hi() const { return hi_; }
    uint32_t lo() const { return lo_; }
    void set_hi_lo(uint32_t hi, uint32_t lo) { hi_ = hi; lo_ = lo; }
    // CP0 register as MFC0 reads it / as MTC0 writes it.
    uint32_t cp0_read(unsigned reg, unsigned sel) const;
    void cp0_write(unsigned reg, unsigned sel, uint32_t value);
    bool in_debug_mode() const { return (debug_ & cp0::DM) != 0; }
    bool waiting() const { return waiting_; }

private:
    struct LoopWatch {
        uint32_t pc = 1;
        uint64_t gen = 0;
        bool snapshot = false;
        Cycle len = 0, last_cycle = 0;
        uint64_t last_instret = 0;
        uint32_t regs[32] = {};
        uint32_t hi = 0, lo = 0;
        FetchTiming::InFlight prefetch{};
        // A counted loop at this branch: its counter register (-1: not one) and step.
        uint32_t analysed = 1;
        int counter = -1;
        uint32_t step = 0;
    };
    enum class Access { Ok, Raised, Stop };

    void execute_block(Cycle bound);

    // fetch
    bool enter_window(uint32_t pc);
    unsigned line_change(uint32_t pc, Cycle now);
    Decoded* code_table(Region r);
    uint32_t word_at(uint32_t vaddr, bool& ok) const;
    bool in_delay_slot(uint32_t pc, uint32_t previous) const;

    // data accesses outside the RAM fast path
    Access load_slow(uint32_t vaddr, unsigned bytes, uint32_t& value);
    Access store_slow(uint32_t vaddr, unsigned bytes, uint32_t value);
    Access address_error(uint32_t vaddr, bool store);
    Access bus_error(uint32_t vaddr);
    void invalidate_ram_code(uint32_t offset);

    // exceptions and CP0
    void raise(unsigned code, uint32_t badvaddr = 0, unsigned ce = 0);
    void enter_exception(unsigned code, uint32_t at, bool bd, bool interrupt);
    void enter_debug(uint32_t at, bool bd);
    void take_interrupt();
    bool interrupt_pending() const;
    void eret();
    void update_mode();
    uint32_t count_at(Cycle c) const;
    void set_count(uint32_t value, Cycle c);
    void schedule_timer(Cycle c);
    void timer_fire();
    unsigned shadow_set(unsigned field_shift) const { return (srsctl_ >> field_shift) & 0xF; }
    void select_set(unsigned set);

    // faults: true when the host wants to stop
    // `bd`: whether `pc` sits in a delay slot (-1: find out from the last instructions).
    bool report(FaultKind kind, uint32_t pc, uint32_t address, unsigned exc_code, int bd = -1);
    void stop_before_current();

    // idle skipping
    struct Skip { Cycle cycles; uint64_t instructions; };
    Skip loop_check(uint32_t branch_pc, uint32_t target, Cycle cycle, uint64_t instret, Cycle bound);
    int counted_loop(uint32_t branch_pc, uint32_t target, uint32_t& step) const;
    void isa_switch(uint32_t target);

    CoreHost& host_;

    std::unique_ptr<uint8_t[]> ram_, flash_, boot_;
    std::vector<Decoded> ram_code_, flash_code_, boot_code_;
    bool ram_code_live_ = false;

    // registers
    uint32_t gprs_[config::kHighestShadowSet + 1][32] = {};
    uint32_t* r_ = gprs_[0];
    uint32_t hi_ = 0, lo_ = 0;
    uint32_t pc_ = 0, npc_ = 4;
    uint32_t cur_pc_ = 1, prev_pc_ = 1;  // instruction executing (or last executed) and the one before
    Cycle cycle_ = 0;
    uint64_t instret_ = 0;
    bool llbit_ = false;

    // CP0
    uint32_t status_ = 0, cause_ = 0, epc_ = 0, error_epc_ = 0, depc_ = 0, desave_ = 0, badvaddr_ = 0;
    uint32_t ebase_ = 0, intctl_ = 0, srsctl_ = 0, srsmap_ = 0, config_ = 0, hwrena_ = 0, debug_ = 0;
    uint32_t compare_ = 0, count_base_ = 0;
    Cycle count_ref_ = 0;
    Cycle timer_match_ = kNoEvent;
    bool kernel_ = true;

    // external interrupt controller request
    unsigned req_level_ = 0, req_vector_ = 0, req_shadow_ = 0;

    // timing state
    Timing timing_{};
    FetchTiming fetch_;
    Cycle mdu_ready_ = 0, mdu_free_ = 0;
    uint32_t use_mask_ = 0;
    uint32_t fetch_line_ = ~0u;

    // current fetch window: a region seen through one segment
    uint32_t win_base_ = 0, win_words_ = 0;
    Decoded* win_code_ = nullptr;
    const uint8_t* win_mem_ = nullptr;
    Region win_region_ = Region::None;
    bool win_cacheable_ = false;
    unsigned win_line_shift_ = 4;
    uint32_t ram_tag_ = 0x80000000u;  // KSEG0/KSEG1 RAM fast path (kernel mode only)

    // run control
    Cycle host_event_ = kNoEvent;
    bool stop_requested_ = false, fault_stop_ = false, attention_ = false, waiting_ = false;
    Fault fault_;
    std::function<void(uint32_t)> step_hook_;

    // checks
    uint32_t sp_limit_ = 0, sp_low_ = 0xFFFFFFFFu;

    // idle skipping
    bool skip_enabled_ = true;
    uint64_t gen_ = 0;
    LoopWatch loop_;
    Cycle skipped_ = 0;
    uint64_t skipped_instructions_ = 0;
};

} // namespace m4k
