// The interpreter: the run loop (board events, timer, interrupts, idle
// skipping) and the inner loop that executes predecoded instructions.
#include "sim/cpu/m4k_core.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace m4k {

static_assert(std::endian::native == std::endian::little, "memories are kept in the chip's byte order");
static_assert(config::kLoadUseStall == config::kMulUseStall, "one use-stall mechanism serves loads and MUL");

namespace {

constexpr uint32_t reg_bit(unsigned r) { return (1u << r) & ~1u; }

// Operand width class of a divide's rs: 0 = 8 bits ... 3 = 32 bits.
unsigned divide_width(uint32_t v, bool is_signed) {
    if (is_signed) {
        const int32_t s = static_cast<int32_t>(v);
        if (s == static_cast<int8_t>(s)) return 0;
        if (s == static_cast<int16_t>(s)) return 1;
        if (s >= -(1 << 23) && s < (1 << 23)) return 2;
        return 3;
    }
    if (v < (1u << 8)) return 0;
    if (v < (1u << 16)) return 1;
    if (v < (1u << 24)) return 2;
    return 3;
}

bool multiply_is_short(uint32_t rt, bool is_signed) {
    return is_signed ? static_cast<int32_t>(rt) == static_cast<int16_t>(rt) : rt <= 0xFFFF;
}

} // namespace

Core::Core(CoreHost& host)
    : host_(host),
      ram_(new uint8_t[config::kRamSize]),
      flash_(new uint8_t[config::kFlashSize]),
      boot_(new uint8_t[config::kBootSize]),
      ram_code_(config::kRamSize / 4),
      flash_code_(config::kFlashSize / 4),
      boot_code_(config::kBootSize / 4) {
    erase_memories();
    reset();
}

// ---------------------------------------------------------------- memories

void Core::erase_memories() {
    std::memset(ram_.get(), 0, config::kRamSize);
    std::memset(flash_.get(), 0xFF, config::kFlashSize);
    std::memset(boot_.get(), 0xFF, config::kBootSize);
    for (auto* table : {&ram_code_, &flash_code_, &boot_code_})
        std::fill(table->begin(), table->end(), Decoded{});
    ram_code_live_ = false;
}

bool Core::write_memory(uint32_t phys, const void* data, size_t size) {
    const PhysicalSpan span = locate(phys);
    uint8_t* base = span.region == Region::Ram ? ram_.get()
                  : span.region == Region::Flash ? flash_.get()
                  : span.region == Region::Boot ? boot_.get() : nullptr;
    if (!base || size > region_size(span.region) - span.offset) return false;
    std::memcpy(base + span.offset, data, size);
    Decoded* code = code_table(span.region);
    for (size_t w = span.offset / 4; w < (span.offset + size + 3) / 4; ++w) code[w] = Decoded{};
    return true;
}

bool Core::read_memory(uint32_t phys, void* out, size_t size) const {
    const PhysicalSpan span = locate(phys);
    const uint8_t* base = span.region == Region::Ram ? ram_.get()
                        : span.region == Region::Flash ? flash_.get()
                        : span.region == Region::Boot ? boot_.get() : nullptr;
    if (!base || size > region_size(span.region) - span.offset) return false;
    std::memcpy(out, base + span.offset, size);
    return true;
}

Decoded* Core::code_table(Region r) {
    switch (r) {
    case Region::Ram: return ram_code_.data();
    case Region::Flash: return flash_code_.data();
    case Region::Boot: return boot_code_.data();
    default: return nullptr;
    }
}

uint32_t Core::word_at(uint32_t vaddr, bool& ok) const {
    uint32_t w = 0;
    ok = (vaddr & 3) == 0 && read_memory(translate(vaddr, status_ & cp0::ERL), &w, 4);
    return w;
}

void Core::invalidate_ram_code(uint32_t offset) { ram_code_[offset >> 2] = Decoded{}; }

// ---------------------------------------------------------------- fetch

bool Core::enter_window(uint32_t pc) {
    // The fetch at `pc` is the instruction after cur_pc_.
    prev_pc_ = cur_pc_;
    cur_pc_ = pc;
    if (pc & 1) {
        isa_switch(pc);
        return false;
    }
    if ((pc & 2) || (!kernel_ && pc >= 0x80000000u)) {
        if (report(FaultKind::AddressError, pc, pc, kExcAdEL)) {
            fault_stop_ = true;
            return false;
        }
        raise(kExcAdEL, pc);
        return false;
    }
    const PhysicalSpan span = locate(translate(pc, status_ & cp0::ERL));
    if (span.region == Region::Ram || span.region == Region::Flash || span.region == Region::Boot) {
        cur_pc_ = prev_pc_;  // nothing executed yet
        win_region_ = span.region;
        win_base_ = pc - span.offset;
        win_words_ = region_size(span.region) / 4;
        win_code_ = code_table(span.region);
        win_mem_ = span.region == Region::Ram ? ram_.get() : span.region == Region::Flash ? flash_.get() : boot_.get();
        win_cacheable_ = span.region != Region::Ram && in_kseg0(pc) && (config_ & 7) == 3;
        win_line_shift_ = span.region == Region::Ram ? 2 : 4;
        if (span.region == Region::Ram) ram_code_live_ = true;
        return true;
    }
    if (report(FaultKind::FetchOutsideMemory, pc, pc, kExcIBE)) {
        fault_stop_ = true;
        return false;
    }
    raise(kExcIBE);
    return false;
}

unsigned Core::line_change(uint32_t pc, Cycle now) {
    if (win_region_ == Region::Ram) return timing_.ram_wait_states;
    const uint32_t phys = region_base(win_region_) + (pc - win_base_);
    return fetch_.enter_line(phys >> 4, win_cacheable_, now);
}

bool Core::in_delay_slot(uint32_t pc, uint32_t previous) const {
    if (previous + 4 != pc) return false;
    bool ok;
    const uint32_t w = word_at(previous, ok);
    return ok && has_delay_slot(decode(w).op);
}

// ---------------------------------------------------------------- data accesses

Core::Access Core::address_error(uint32_t vaddr, bool store) {
    if (report(FaultKind::AddressError, cur_pc_, vaddr, store ? kExcAdES : kExcAdEL)) {
        stop_before_current();
        return Access::Stop;
    }
    raise(store ? kExcAdES : kExcAdEL, vaddr);
    return Access::Raised;
}

Core::Access Core::bus_error(uint32_t vaddr) {
    if (report(FaultKind::BusError, cur_pc_, vaddr, kExcDBE)) {
        stop_before_current();
        return Access::Stop;
    }
    raise(kExcDBE);
    return Access::Raised;
}

Core::Access Core::load_slow(uint32_t vaddr, unsigned bytes, uint32_t& value) {
    if (vaddr & (bytes - 1)) return address_error(vaddr, false);
    if (!kernel_ && vaddr >= 0x80000000u) return address_error(vaddr, false);
    const uint32_t phys = translate(vaddr, status_ & cp0::ERL);
    const PhysicalSpan span = locate(phys);
    value = 0;
    switch (span.region) {
    case Region::Ram:
        std::memcpy(&value, ram_.get() + span.offset, bytes);
        cycle_ += timing_.ram_wait_states;
        return Access::Ok;
    case Region::Flash:
    case Region::Boot:
        std::memcpy(&value, (span.region == Region::Flash ? flash_ : boot_).get() + span.offset, bytes);
        cycle_ += fetch_.data_load(phys >> 4, in_kseg0(vaddr) && (config_ & 7) == 3);
        return Access::Ok;
    case Region::Sfr: {
        bool side_effect = false;
        uint32_t v = 0;
        const bool ok = host_.io_load(phys, bytes, cycle_, v, side_effect);
        cycle_ += timing_.pb_div * config::kSfrCyclesPerPbDiv;
        if (side_effect) {
            ++gen_;
            host_event_ = std::max(host_.next_event(), cycle_);
        }
        if (ok) {
            value = bytes == 4 ? v : v & ((1u << (8 * bytes)) - 1);
            return Access::Ok;
        }
        break;
    }
    case Region::None:
        break;
    }
    return bus_error(vaddr);
}

Core::Access Core::store_slow(uint32_t vaddr, unsigned bytes, uint32_t value) {
    if (vaddr & (bytes - 1)) return address_error(vaddr, true);
    if (!kernel_ && vaddr >= 0x80000000u) return address_error(vaddr, true);
    const uint32_t phys = translate(vaddr, status_ & cp0::ERL);
    const PhysicalSpan span = locate(phys);
    ++gen_;
    switch (span.region) {
    case Region::Ram:
        std::memcpy(ram_.get() + span.offset, &value, bytes);
        cycle_ += timing_.ram_wait_states;
        if (ram_code_live_) invalidate_ram_code(span.offset);
        return Access::Ok;
    case Region::Flash:
    case Region::Boot:
        // Flash is written through the NVM controller only; the store is dropped.
        if (report(FaultKind::FlashStore, cur_pc_, vaddr, 0)) {
            stop_before_current();
            return Access::Stop;
        }
        return Access::Ok;
    case Region::Sfr: {
        const bool ok = host_.io_store(phys, bytes, value, cycle_);
        cycle_ += timing_.pb_div * config::kSfrCyclesPerPbDiv;
        host_event_ = std::max(host_.next_event(), cycle_);
        if (ok) return Access::Ok;
        break;
    }
    case Region::None:
        break;
    }
    return bus_error(vaddr);
}

// ---------------------------------------------------------------- run loop

StopReason Core::run(Cycle until) {
    stop_requested_ = false;
    fault_stop_ = false;
    host_event_ = host_.next_event();
    for (;;) {
        if (fault_stop_) {
            fault_stop_ = false;
            return StopReason::Fault;
        }
        if (stop_requested_) {
            stop_requested_ = false;
            return StopReason::Requested;
        }
        if (cycle_ >= timer_match_) {
            timer_fire();
            continue;
        }
        if (cycle_ >= host_event_) {
            host_.advance_to(cycle_);
            // The board has handled everything up to now; its next event is later.
            host_event_ = std::max(host_.next_event(), cycle_ + 1);
            ++gen_;
            continue;
        }
        attention_ = false;
        if (interrupt_pending()) {
            waiting_ = false;
            take_interrupt();
            continue;
        }
        if (waiting_ && req_level_ > ((status_ >> cp0::IplShift) & 0x3F)) waiting_ = false;
        if (cycle_ >= until) return StopReason::Until;
        Cycle bound = std::min({until, timer_match_, host_event_});
        if (waiting_) {
            // Nothing runs until the next event.
            cycle_ = bound;
            continue;
        }
        if (step_hook_) {
            step_hook_(pc_);
            if (stop_requested_ || fault_stop_) continue;
            bound = cycle_ + 1;
        }
        ++gen_;
        execute_block(bound);
    }
}

void Core::request_stop() {
    stop_requested_ = true;
    attention_ = true;
}

void Core::set_interrupt_request(unsigned level, unsigned vector, unsigned shadow_set) {
    level &= 0x3F;
    shadow_set = std::min(shadow_set, config::kHighestShadowSet);
    if (level == req_level_ && vector == req_vector_ && shadow_set == req_shadow_) return;
    req_level_ = level;
    req_vector_ = vector & 0x3F;
    req_shadow_ = shadow_set;
    cause_ = (cause_ & ~(0x3Fu << cp0::RiplShift)) | (level << cp0::RiplShift);
    srsctl_ = (srsctl_ & ~(0xFu << 18)) | (shadow_set << 18);
    attention_ = true;
    ++gen_;
}

void Core::set_timing(const Timing& timing) {
    timing_ = timing;
    fetch_.configure(timing.flash_wait_states, timing.prefetch);
    attention_ = true;
    ++gen_;
}

void Core::set_pc(uint32_t pc) {
    pc_ = pc;
    npc_ = pc + 4;
    cur_pc_ = prev_pc_ = 1;
    waiting_ = false;
}

void Core::isa_switch(uint32_t target) {
    // MIPS16e code is not simulated: this always ends the run.
    report(FaultKind::IsaModeSwitch, cur_pc_, target, 0);
    stop_before_current();
}

void Core::stop_before_current() {
    // The current instruction has not taken effect: resume at it.
    npc_ = pc_;
    pc_ = cur_pc_;
    cur_pc_ = prev_pc_;
    prev_pc_ = 1;
    fault_stop_ = true;
}

// ---------------------------------------------------------------- idle skipping

namespace {

// The register an instruction of pure register arithmetic writes (0 for a
// no-op), or -1 for any other instruction (memory, CP0, HI/LO, branches,
// traps, overflow).
int arithmetic_destination(const Decoded& d) {
    switch (d.op) {
    case Op::Nop: return 0;
    case Op::Sll: case Op::Srl: case Op::Sra: case Op::Rotr: case Op::Sllv: case Op::Srlv: case Op::Srav:
    case Op::Rotrv: case Op::Movz: case Op::Movn: case Op::Addu: case Op::Subu: case Op::And: case Op::Or:
    case Op::Xor: case Op::Nor: case Op::Slt: case Op::Sltu: case Op::Clz: case Op::Clo: case Op::Wsbh:
    case Op::Seb: case Op::Seh:
        return d.rd;
    case Op::Addiu: case Op::Slti: case Op::Sltiu: case Op::Andi: case Op::Ori: case Op::Xori: case Op::Lui:
    case Op::Ext: case Op::Ins:
        return d.rt;
    default: return -1;
    }
}

} // namespace

// A counted loop, as delay loops are written: `bne c,zero` back to `target`,
// and between them (delay slot included) register arithmetic only, with one
// `addiu c,c,step` and no other instruction reading or writing c. Every other
// register is computed from registers other than c, so once an iteration
// leaves them as it found them, every later one does; c steps by `step`.
// Returns c, or -1 when the loop is not of this form.
int Core::counted_loop(uint32_t branch_pc, uint32_t target, uint32_t& step) const {
    constexpr uint32_t kLongestBody = 16 * 4;
    if (target > branch_pc || branch_pc - target > kLongestBody) return -1;
    bool ok;
    const Decoded branch = decode(word_at(branch_pc, ok));
    if (!ok || branch.op != Op::Bne || (branch.rs != 0) == (branch.rt != 0)) return -1;
    const int c = branch.rs | branch.rt;
    int steps = 0;
    for (uint32_t at = target; at <= branch_pc + 4; at += 4) {
        if (at == branch_pc) continue;
        const Decoded d = decode(word_at(at, ok));
        if (!ok) return -1;
        if (d.op == Op::Addiu && d.rs == c && d.rt == c) {
            step = d.imm;
            ++steps;
            continue;
        }
        const int dest = arithmetic_destination(d);
        if (dest < 0 || dest == c || (d.src_mask >> c) & 1u) return -1;
    }
    return steps == 1 ? c : -1;
}

// At a taken backward branch: if the last two iterations of this loop made no
// store, no side-effect read and saw no event, took the same time and left the
// registers as they found them, every further iteration until the next event
// is the same: skip as many whole ones as fit before `bound`. A counted delay
// loop (see counted_loop) is skipped the same way, short of its last iteration.
Core::Skip Core::loop_check(uint32_t branch_pc, uint32_t target, Cycle cycle, uint64_t instret, Cycle bound) {
    LoopWatch& w = loop_;
    Skip skip{0, 0};
    if (branch_pc != w.pc || gen_ != w.gen) {
        w.pc = branch_pc;
        w.gen = gen_;
        w.snapshot = false;
        w.last_cycle = cycle;
        w.last_instret = instret;
        return skip;
    }
    const Cycle len = cycle - w.last_cycle;
    const uint64_t n = instret - w.last_instret;
    // The prefetch cache's lines are the same after every iteration of a
    // repeating loop; a prefetch in flight must stand at the same distance.
    const FetchTiming::InFlight prefetch = fetch_.in_flight(cycle);
    if (w.snapshot && len == w.len && len > 0 && hi_ == w.hi && lo_ == w.lo && mdu_ready_ <= cycle &&
        mdu_free_ <= cycle && prefetch == w.prefetch && bound > cycle) {
        uint64_t k = (bound - cycle) / len;
        int changed = -1;  // the one register the iteration changed, if only one
        for (unsigned i = 1; i < 32; ++i)
            if (r_[i] != w.regs[i]) changed = changed == -1 ? static_cast<int>(i) : 32;
        if (changed > 0 && changed < 32) {
            if (w.analysed != branch_pc) {
                w.counter = counted_loop(branch_pc, target, w.step);
                w.analysed = branch_pc;
            }
            // Iterations until the branch sees the counter at zero.
            const uint32_t v = r_[changed];
            uint64_t to_exit = 0;
            if (changed == w.counter && v - w.regs[changed] == w.step && w.step != 0) {
                const uint32_t down = 0u - w.step;
                if (static_cast<int32_t>(w.step) < 0 && v % down == 0) to_exit = v / down;
                else if (static_cast<int32_t>(w.step) > 0 && (0u - v) % w.step == 0) to_exit = (0u - v) / w.step;
            }
            k = to_exit > 1 ? std::min<uint64_t>(k, to_exit - 1) : 0;
            r_[changed] += static_cast<uint32_t>(k) * w.step;
        } else if (changed != -1) {
            k = 0;
        }
        skip = {k * len, k * n};
        fetch_.shift_time(skip.cycles);
        skipped_ += skip.cycles;
        skipped_instructions_ += skip.instructions;
    }
    std::memcpy(w.regs, r_, sizeof w.regs);
    w.hi = hi_;
    w.lo = lo_;
    w.prefetch = fetch_.in_flight(cycle + skip.cycles);
    w.snapshot = true;
    w.len = len;
    w.last_cycle = cycle + skip.cycles;
    w.last_instret = instret + skip.instructions;
    return skip;
}

// ---------------------------------------------------------------- inner loop

void Core::execute_block(Cycle bound) {
    using namespace config;
    uint32_t pc = pc_, npc = npc_, cur = cur_pc_, prev = prev_pc_;
    Cycle cycle = cycle_;
    uint64_t instret = instret_;
    uint32_t* r = r_;
    uint32_t use_mask = use_mask_;
    uint32_t fetch_line = fetch_line_;
    uint8_t* const ram = ram_.get();

#define SAVE()                                                                                      \
    (pc_ = pc, npc_ = npc, cur_pc_ = cur, prev_pc_ = prev, cycle_ = cycle, instret_ = instret,      \
     use_mask_ = use_mask, fetch_line_ = fetch_line)
    // After a slow access that returned Ok: only the clock and the board's
    // requests can have changed.
#define AFTER_SLOW()                                  \
    do {                                              \
        cycle = cycle_;                               \
        if (attention_) bound = 0;                    \
        else if (host_event_ < bound) bound = host_event_; \
    } while (0)
#define RAISE(...)           \
    do {                     \
        SAVE();              \
        raise(__VA_ARGS__);  \
        return;              \
    } while (0)
#define FAULT_OR_RAISE(kind, code, ...)                          \
    do {                                                         \
        SAVE();                                                  \
        if (report(kind, cur, 0, code)) stop_before_current();   \
        else raise(code, ##__VA_ARGS__);                         \
        return;                                                  \
    } while (0)
#define BRANCH(target)                                                               \
    do {                                                                             \
        const uint32_t t_ = (target);                                                \
        npc = t_;                                                                    \
        if (t_ <= cur && skip_enabled_) {                                            \
            const Skip s_ = loop_check(cur, t_, cycle, instret, bound);              \
            cycle += s_.cycles;                                                      \
            instret += s_.instructions;                                              \
        }                                                                            \
    } while (0)
#define ANNUL() (pc = cur + 8, npc = cur + 12, cycle += kAnnulledSlotCycles)
#define COP0_USABLE()                                       \
    do {                                                    \
        if (!kernel_ && !(status_ & cp0::CU0)) RAISE(kExcCpU, 0, 0); \
    } while (0)
#define RS r[d->rs]
#define RT r[d->rt]
#define EA (r[d->rs] + d->imm)

    // Reads `bytes` at `addr` into `out` (a zeroed uint32_t) and writes them
    // from `value`: KSEG0/KSEG1 RAM with natural alignment is the fast path;
    // everything else goes through load_slow()/store_slow().
#define READ_AT(addr, bytes, out)                                             \
    do {                                                                      \
        const uint32_t a_ = (addr);                                           \
        if ((a_ & (0xDFFF8000u | (bytes - 1))) == ram_tag_) {                 \
            std::memcpy(&(out), ram + (a_ & 0x7FFF), bytes);                 \
            cycle += timing_.ram_wait_states;                                 \
        } else {                                                              \
            SAVE();                                                           \
            if (load_slow(a_, bytes, out) != Access::Ok) return;              \
            AFTER_SLOW();                                                     \
        }                                                                     \
    } while (0)
#define WRITE_AT(addr, bytes, value)                                          \
    do {                                                                      \
        const uint32_t a_ = (addr);                                           \
        const uint32_t v_ = (value);                                          \
        if ((a_ & (0xDFFF8000u | (bytes - 1))) == ram_tag_) {                 \
            std::memcpy(ram + (a_ & 0x7FFF), &v_, bytes);                    \
            cycle += timing_.ram_wait_states;                                 \
            ++gen_;                                                           \
            if (ram_code_live_) invalidate_ram_code(a_ & 0x7FFF);             \
        } else {                                                              \
            SAVE();                                                           \
            if (store_slow(a_, bytes, v_) != Access::Ok) return;              \
            AFTER_SLOW();                                                     \
        }                                                                     \
    } while (0)
#define LOAD(bytes, expr_from_raw)                                            \
    do {                                                                      \
        uint32_t raw_ = 0;                                                    \
        READ_AT(EA, bytes, raw_);                                             \
        RT = (expr_from_raw);                                                 \
        use_mask = reg_bit(d->rt);                                            \
    } while (0)
#define STORE(bytes, value) WRITE_AT(EA, bytes, value)

    for (;;) {
        if (cycle >= bound) break;
        const uint32_t idx = std::rotr(pc - win_base_, 2);  // misaligned pc: out of range
        if (idx >= win_words_) {
            SAVE();
            if (!enter_window(pc)) return;
            continue;
        }
        if ((pc >> win_line_shift_) != fetch_line) {
            fetch_line = pc >> win_line_shift_;
            cycle += line_change(pc, cycle);
        }
        Decoded* d = win_code_ + idx;
        prev = cur;
        cur = pc;
        pc = npc;
        npc = pc + 4;
        ++cycle;
        ++instret;
        const uint32_t stall_src = use_mask;
        use_mask = 0;
        if (stall_src & d->src_mask) cycle += kLoadUseStall;

    dispatch:
        switch (d->op) {
        case Op::Undecoded: {
            uint32_t word;
            std::memcpy(&word, win_mem_ + idx * 4, 4);
            *d = decode(word);
            if (stall_src & d->src_mask) cycle += kLoadUseStall;
            goto dispatch;
        }
        case Op::Nop: case Op::Sync: case Op::Synci: case Op::Pref:
            break;

        // ---- ALU
        case Op::Sll: r[d->rd] = RT << d->sa; break;
        case Op::Srl: r[d->rd] = RT >> d->sa; break;
        case Op::Sra: r[d->rd] = static_cast<uint32_t>(static_cast<int32_t>(RT) >> d->sa); break;
        case Op::Rotr: r[d->rd] = std::rotr(RT, d->sa); break;
        case Op::Sllv: r[d->rd] = RT << (RS & 31); break;
        case Op::Srlv: r[d->rd] = RT >> (RS & 31); break;
        case Op::Srav: r[d->rd] = static_cast<uint32_t>(static_cast<int32_t>(RT) >> (RS & 31)); break;
        case Op::Rotrv: r[d->rd] = std::rotr(RT, static_cast<int>(RS & 31)); break;
        case Op::Movz: if (RT == 0) r[d->rd] = RS; break;
        case Op::Movn: if (RT != 0) r[d->rd] = RS; break;
        case Op::Add: {
            int32_t sum;
            if (__builtin_add_overflow(static_cast<int32_t>(RS), static_cast<int32_t>(RT), &sum)) RAISE(kExcOv);
            r[d->rd] = static_cast<uint32_t>(sum);
            break;
        }
        case Op::Addu: r[d->rd] = RS + RT; break;
        case Op::Sub: {
            int32_t diff;
            if (__builtin_sub_overflow(static_cast<int32_t>(RS), static_cast<int32_t>(RT), &diff)) RAISE(kExcOv);
            r[d->rd] = static_cast<uint32_t>(diff);
            break;
        }
        case Op::Subu: r[d->rd] = RS - RT; break;
        case Op::And: r[d->rd] = RS & RT; break;
        case Op::Or: r[d->rd] = RS | RT; break;
        case Op::Xor: r[d->rd] = RS ^ RT; break;
        case Op::Nor: r[d->rd] = ~(RS | RT); break;
        case Op::Slt: r[d->rd] = static_cast<int32_t>(RS) < static_cast<int32_t>(RT); break;
        case Op::Sltu: r[d->rd] = RS < RT; break;
        case Op::Addi: {
            int32_t sum;
            if (__builtin_add_overflow(static_cast<int32_t>(RS), static_cast<int32_t>(d->imm), &sum)) RAISE(kExcOv);
            RT = static_cast<uint32_t>(sum);
            break;
        }
        case Op::Addiu: RT = RS + d->imm; break;
        case Op::Slti: RT = static_cast<int32_t>(RS) < static_cast<int32_t>(d->imm); break;
        case Op::Sltiu: RT = RS < d->imm; break;
        case Op::Andi: RT = RS & d->imm; break;
        case Op::Ori: RT = RS | d->imm; break;
        case Op::Xori: RT = RS ^ d->imm; break;
        case Op::Lui: RT = d->imm; break;
        case Op::Clz: r[d->rd] = RS ? static_cast<uint32_t>(__builtin_clz(RS)) : 32; break;
        case Op::Clo: r[d->rd] = ~RS ? static_cast<uint32_t>(__builtin_clz(~RS)) : 32; break;
        case Op::Ext:
            RT = static_cast<uint32_t>((uint64_t{RS} >> d->sa) & ((uint64_t{1} << d->size) - 1));
            break;
        case Op::Ins: {
            const uint64_t mask = ((uint64_t{1} << d->size) - 1) << d->sa;
            RT = static_cast<uint32_t>((RT & ~mask) | ((uint64_t{RS} << d->sa) & mask));
            break;
        }
        case Op::Wsbh: r[d->rd] = ((RT & 0x00FF00FFu) << 8) | ((RT >> 8) & 0x00FF00FFu); break;
        case Op::Seb: r[d->rd] = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(RT))); break;
        case Op::Seh: r[d->rd] = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(RT))); break;

        // ---- multiply and divide
        case Op::Mfhi: if (cycle < mdu_ready_) cycle = mdu_ready_; r[d->rd] = hi_; break;
        case Op::Mflo: if (cycle < mdu_ready_) cycle = mdu_ready_; r[d->rd] = lo_; break;
        case Op::Mthi: if (cycle < mdu_ready_) cycle = mdu_ready_; hi_ = RS; break;
        case Op::Mtlo: if (cycle < mdu_ready_) cycle = mdu_ready_; lo_ = RS; break;
        case Op::Mult: case Op::Multu: case Op::Madd: case Op::Maddu: case Op::Msub: case Op::Msubu: {
            if (cycle < mdu_free_) cycle = mdu_free_;
            const bool is_signed = d->op == Op::Mult || d->op == Op::Madd || d->op == Op::Msub;
            const uint64_t product = is_signed
                ? static_cast<uint64_t>(int64_t{static_cast<int32_t>(RS)} * static_cast<int32_t>(RT))
                : uint64_t{RS} * RT;
            const uint64_t acc = (uint64_t{hi_} << 32) | lo_;
            const uint64_t result = (d->op == Op::Mult || d->op == Op::Multu) ? product
                                  : (d->op == Op::Madd || d->op == Op::Maddu) ? acc + product
                                  : acc - product;
            hi_ = static_cast<uint32_t>(result >> 32);
            lo_ = static_cast<uint32_t>(result);
            const bool short_op = multiply_is_short(RT, is_signed);
            mdu_ready_ = cycle + (short_op ? kMult16Latency : kMult32Latency);
            mdu_free_ = cycle + (short_op ? kMult16Repeat : kMult32Repeat);
            break;
        }
        case Op::Mul: {
            if (cycle < mdu_free_) cycle = mdu_free_;
            const uint32_t product = RS * RT;
            cycle += (multiply_is_short(RT, true) ? kMul16Cycles : kMul32Cycles) - 1;
            r[d->rd] = product;
            use_mask = reg_bit(d->rd);
            break;
        }
        case Op::Div: case Op::Divu: {
            if (cycle < mdu_free_) cycle = mdu_free_;
            const bool is_signed = d->op == Op::Div;
            const uint32_t a = RS, b = RT;
            if (b != 0) {  // a zero divisor leaves HI and LO as they were (UNPREDICTABLE)
                if (is_signed) {
                    const int32_t sa = static_cast<int32_t>(a), sb = static_cast<int32_t>(b);
                    if (sa == INT32_MIN && sb == -1) {
                        lo_ = a;
                        hi_ = 0;
                    } else {
                        lo_ = static_cast<uint32_t>(sa / sb);
                        hi_ = static_cast<uint32_t>(sa % sb);
                    }
                } else {
                    lo_ = a / b;
                    hi_ = a % b;
                }
            }
            const unsigned width = divide_width(a, is_signed);
            mdu_ready_ = cycle + kDivLatency[width];
            mdu_free_ = cycle + kDivRepeat[width];
            break;
        }

        // ---- traps and system calls
        case Op::Tge: if (static_cast<int32_t>(RS) >= static_cast<int32_t>(RT)) RAISE(kExcTr); break;
        case Op::Tgeu: if (RS >= RT) RAISE(kExcTr); break;
        case Op::Tlt: if (static_cast<int32_t>(RS) < static_cast<int32_t>(RT)) RAISE(kExcTr); break;
        case Op::Tltu: if (RS < RT) RAISE(kExcTr); break;
        case Op::Teq: if (RS == RT) RAISE(kExcTr); break;
        case Op::Tne: if (RS != RT) RAISE(kExcTr); break;
        case Op::Tgei: if (static_cast<int32_t>(RS) >= static_cast<int32_t>(d->imm)) RAISE(kExcTr); break;
        case Op::Tgeiu: if (RS >= d->imm) RAISE(kExcTr); break;
        case Op::Tlti: if (static_cast<int32_t>(RS) < static_cast<int32_t>(d->imm)) RAISE(kExcTr); break;
        case Op::Tltiu: if (RS < d->imm) RAISE(kExcTr); break;
        case Op::Teqi: if (RS == d->imm) RAISE(kExcTr); break;
        case Op::Tnei: if (RS != d->imm) RAISE(kExcTr); break;
        case Op::Syscall: RAISE(kExcSys); break;
        case Op::Break: RAISE(kExcBp); break;
        case Op::Sdbbp:
            SAVE();
            enter_debug(cur, in_delay_slot(cur, prev));
            return;
        case Op::Reserved: FAULT_OR_RAISE(FaultKind::ReservedInstruction, kExcRI); break;
        case Op::CopUnusable: FAULT_OR_RAISE(FaultKind::CoprocessorUnusable, kExcCpU, 0, d->sa); break;

        // ---- branches and jumps (pc already holds the delay slot)
        case Op::Beq: if (RS == RT) BRANCH(cur + 4 + d->imm); break;
        case Op::Bne: if (RS != RT) BRANCH(cur + 4 + d->imm); break;
        case Op::Blez: if (static_cast<int32_t>(RS) <= 0) BRANCH(cur + 4 + d->imm); break;
        case Op::Bgtz: if (static_cast<int32_t>(RS) > 0) BRANCH(cur + 4 + d->imm); break;
        case Op::Bltz: if (static_cast<int32_t>(RS) < 0) BRANCH(cur + 4 + d->imm); break;
        case Op::Bgez: if (static_cast<int32_t>(RS) >= 0) BRANCH(cur + 4 + d->imm); break;
        case Op::Beql: if (RS == RT) BRANCH(cur + 4 + d->imm); else ANNUL(); break;
        case Op::Bnel: if (RS != RT) BRANCH(cur + 4 + d->imm); else ANNUL(); break;
        case Op::Blezl: if (static_cast<int32_t>(RS) <= 0) BRANCH(cur + 4 + d->imm); else ANNUL(); break;
        case Op::Bgtzl: if (static_cast<int32_t>(RS) > 0) BRANCH(cur + 4 + d->imm); else ANNUL(); break;
        case Op::Bltzl: if (static_cast<int32_t>(RS) < 0) BRANCH(cur + 4 + d->imm); else ANNUL(); break;
        case Op::Bgezl: if (static_cast<int32_t>(RS) >= 0) BRANCH(cur + 4 + d->imm); else ANNUL(); break;
        case Op::Bltzal: { const bool taken = static_cast<int32_t>(RS) < 0; r[31] = cur + 8; if (taken) BRANCH(cur + 4 + d->imm); break; }
        case Op::Bgezal: { const bool taken = static_cast<int32_t>(RS) >= 0; r[31] = cur + 8; if (taken) BRANCH(cur + 4 + d->imm); break; }
        case Op::Bltzall: { const bool taken = static_cast<int32_t>(RS) < 0; r[31] = cur + 8; if (taken) BRANCH(cur + 4 + d->imm); else ANNUL(); break; }
        case Op::Bgezall: { const bool taken = static_cast<int32_t>(RS) >= 0; r[31] = cur + 8; if (taken) BRANCH(cur + 4 + d->imm); else ANNUL(); break; }
        case Op::J: BRANCH(((cur + 4) & 0xF0000000u) | d->imm); break;
        case Op::Jal: r[31] = cur + 8; npc = ((cur + 4) & 0xF0000000u) | d->imm; break;
        case Op::Jr: {
            const uint32_t t = RS;
            if (t & 1) { SAVE(); isa_switch(t); return; }
            npc = t;
            break;
        }
        case Op::Jalr: {
            const uint32_t t = RS;
            if (t & 1) { SAVE(); isa_switch(t); return; }
            r[d->rd] = cur + 8;
            npc = t;
            break;
        }
        case Op::Jalx: SAVE(); isa_switch(((cur + 4) & 0xF0000000u) | d->imm | 1); return;

        // ---- loads and stores
        case Op::Lb: LOAD(1, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(raw_)))); break;
        case Op::Lbu: LOAD(1, raw_); break;
        case Op::Lh: LOAD(2, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(raw_)))); break;
        case Op::Lhu: LOAD(2, raw_); break;
        case Op::Lw: LOAD(4, raw_); break;
        case Op::Ll: LOAD(4, raw_); llbit_ = true; break;
        // The aligned word under an unaligned address, merged with the register.
        case Op::Lwl: case Op::Lwr: {
            const uint32_t a = EA;
            uint32_t w = 0;
            READ_AT(a & ~3u, 4, w);
            const unsigned k = a & 3;
            if (d->op == Op::Lwl)
                RT = (w << (8 * (3 - k))) | (RT & static_cast<uint32_t>(0xFFFFFFFFull >> (8 * (k + 1))));
            else
                RT = (w >> (8 * k)) | (RT & ~static_cast<uint32_t>(0xFFFFFFFFull >> (8 * k)));
            use_mask = reg_bit(d->rt);
            break;
        }
        case Op::Sb: STORE(1, RT & 0xFF); break;
        case Op::Sh: STORE(2, RT & 0xFFFF); break;
        case Op::Sw: STORE(4, RT); break;
        case Op::Sc:
            if (llbit_) {
                STORE(4, RT);
                RT = 1;
            } else {
                if (EA & 3) { SAVE(); address_error(EA, true); return; }
                RT = 0;
            }
            break;
        case Op::Swl: case Op::Swr: {
            const uint32_t a = EA;
            uint32_t w = 0;
            READ_AT(a & ~3u, 4, w);
            const unsigned k = a & 3;
            uint32_t merged;
            if (d->op == Op::Swl) {
                const uint32_t keep = ~static_cast<uint32_t>(0xFFFFFFFFull >> (8 * (3 - k)));
                merged = (w & keep) | (RT >> (8 * (3 - k)));
            } else {
                const uint32_t keep = ~static_cast<uint32_t>(0xFFFFFFFFull << (8 * k));
                merged = (w & keep) | (RT << (8 * k));
            }
            WRITE_AT(a & ~3u, 4, merged);
            break;
        }
        case Op::Cache: COP0_USABLE(); break;

        // ---- coprocessor 0
        case Op::Mfc0: {
            COP0_USABLE();
            cycle_ = cycle;
            const uint32_t v = cp0_read(d->rd, d->sa);
            RT = v;
            break;
        }
        case Op::Mtc0:
            COP0_USABLE();
            SAVE();
            cp0_write(d->rd, d->sa, RT);
            ++gen_;
            bound = 0;  // interrupts, timer and mode may have changed
            break;
        case Op::Di: case Op::Ei:
            COP0_USABLE();
            RT = status_;
            if (d->op == Op::Di) status_ &= ~cp0::IE;
            else status_ |= cp0::IE;
            ++gen_;
            bound = 0;
            break;
        case Op::Rdpgpr: COP0_USABLE(); r[d->rd] = gprs_[std::min(shadow_set(6), kHighestShadowSet)][d->rt]; break;
        case Op::Wrpgpr: {
            COP0_USABLE();
            uint32_t* set = gprs_[std::min(shadow_set(6), kHighestShadowSet)];
            if (d->rd) set[d->rd] = RT;
            ++gen_;
            break;
        }
        case Op::Eret: COP0_USABLE(); SAVE(); eret(); return;
        case Op::Deret:
            COP0_USABLE();
            if (!(debug_ & cp0::DM)) FAULT_OR_RAISE(FaultKind::ReservedInstruction, kExcRI);
            SAVE();
            debug_ &= ~cp0::DM;
            set_pc(depc_);
            update_mode();
            ++gen_;
            return;
        case Op::Wait:
            COP0_USABLE();
            SAVE();
            waiting_ = true;
            return;
        case Op::Rdhwr: {
            const unsigned hw = d->rd;
            if (hw > 3 || (!kernel_ && !(hwrena_ & (1u << hw)))) FAULT_OR_RAISE(FaultKind::ReservedInstruction, kExcRI);
            cycle_ = cycle;
            RT = hw == 2 ? count_at(cycle) : hw == 3 ? kCountDivider : 0;
            break;
        }
        case Op::Count:
            break;
        }
        r[0] = 0;
        if (d->flags & kWritesSp) {
            const uint32_t sp = r[29];
            if (sp < sp_low_) sp_low_ = sp;
            if (sp < sp_limit_) {
                SAVE();
                if (report(FaultKind::StackOverflow, cur, sp, 0)) {
                    fault_stop_ = true;
                    return;
                }
            }
        }
    }
    SAVE();
#undef SAVE
#undef AFTER_SLOW
#undef RAISE
#undef FAULT_OR_RAISE
#undef BRANCH
#undef ANNUL
#undef COP0_USABLE
#undef RS
#undef RT
#undef EA
#undef READ_AT
#undef WRITE_AT
#undef LOAD
#undef STORE
}

} // namespace m4k
