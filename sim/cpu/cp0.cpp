// Coprocessor 0 of the M4K: its registers, the core timer (Count/Compare),
// exception and interrupt entry, ERET, debug mode, and fault reports.
#include <algorithm>
#include <cstring>

#include "sim/cpu/disasm.h"
#include "sim/cpu/m4k_core.h"

namespace m4k {

using namespace config;

void Core::reset() {
    cycle_ = 0;
    instret_ = 0;
    skipped_ = 0;
    std::memset(gprs_, 0, sizeof gprs_);
    r_ = gprs_[0];
    hi_ = lo_ = 0;
    status_ = cp0::BEV | cp0::ERL;
    cause_ = 0;
    epc_ = error_epc_ = depc_ = desave_ = badvaddr_ = 0;
    ebase_ = kEbaseReset;
    intctl_ = 0;
    srsctl_ = kHighestShadowSet << 26;
    srsmap_ = 0;
    config_ = kConfigReset;
    hwrena_ = 0;
    debug_ = 0;
    compare_ = 0xFFFFFFFFu;  // undefined at reset; far from Count = 0
    count_base_ = 0;
    count_ref_ = 0;
    schedule_timer(0);
    llbit_ = false;
    req_level_ = req_vector_ = req_shadow_ = 0;
    set_timing({kResetFlashWaitStates, kResetPrefetch, kResetRamWaitStates, kResetPbDiv});
    fetch_.reset();
    mdu_ready_ = mdu_free_ = 0;
    use_mask_ = 0;
    fetch_line_ = ~0u;
    win_words_ = 0;
    sp_low_ = 0xFFFFFFFFu;
    loop_ = LoopWatch{};
    stop_requested_ = fault_stop_ = attention_ = false;
    set_pc(kResetVector);
    update_mode();
}

void Core::update_mode() {
    kernel_ = !(status_ & cp0::UM) || (status_ & (cp0::EXL | cp0::ERL)) || (debug_ & cp0::DM);
    // Kernel mode uses the KSEG0/KSEG1 RAM fast path; in user mode the tag
    // matches no address, so every access is checked on the slow path.
    ram_tag_ = kernel_ ? 0x80000000u : 0xFFFFFFFFu;
    win_words_ = 0;  // translation and permissions may differ: look the window up again
}

void Core::select_set(unsigned set) { r_ = gprs_[std::min(set, kHighestShadowSet)]; }

// ---------------------------------------------------------------- core timer

uint32_t Core::count_at(Cycle c) const {
    if (cause_ & cp0::DC) return count_base_;
    return count_base_ + static_cast<uint32_t>(c / kCountDivider - count_ref_ / kCountDivider);
}

void Core::set_count(uint32_t value, Cycle c) {
    count_base_ = value;
    count_ref_ = c;
    schedule_timer(c);
}

// The next cycle at which Count steps onto Compare.
void Core::schedule_timer(Cycle c) {
    if (cause_ & cp0::DC) {
        timer_match_ = kNoEvent;
        return;
    }
    uint64_t steps = static_cast<uint32_t>(compare_ - count_at(c));
    if (steps == 0) steps = uint64_t{1} << 32;
    timer_match_ = (c / kCountDivider + steps) * kCountDivider;
}

void Core::timer_fire() {
    const Cycle at = timer_match_;
    cause_ |= cp0::TI;
    timer_match_ += (uint64_t{1} << 32) * kCountDivider;
    ++gen_;
    host_.core_timer_match(at);
}

// ---------------------------------------------------------------- CP0 registers

uint32_t Core::cp0_read(unsigned reg, unsigned sel) const {
    switch (reg << 3 | sel) {
    case cp0::HWREna << 3: return hwrena_;
    case cp0::BadVAddr << 3: return badvaddr_;
    case cp0::Count << 3: return count_at(cycle_);
    case cp0::Compare << 3: return compare_;
    case cp0::Status << 3: return status_;
    case cp0::Status << 3 | 1: return intctl_;
    case cp0::Status << 3 | 2: return srsctl_;
    case cp0::Status << 3 | 3: return srsmap_;
    case cp0::Cause << 3: return cause_;
    case cp0::EPC << 3: return epc_;
    case cp0::PRId << 3: return kPrid;
    case cp0::PRId << 3 | 1: return ebase_;
    case cp0::Config << 3: return config_;
    case cp0::Config << 3 | 1: return kConfig1;
    case cp0::Config << 3 | 2: return kConfig2;
    case cp0::Config << 3 | 3: return kConfig3;
    case cp0::Debug << 3: return debug_;
    case cp0::DEPC << 3: return depc_;
    case cp0::ErrorEPC << 3: return error_epc_;
    case cp0::DESAVE << 3: return desave_;
    default: return 0;
    }
}

void Core::cp0_write(unsigned reg, unsigned sel, uint32_t value) {
    switch (reg << 3 | sel) {
    case cp0::HWREna << 3: hwrena_ = value & 0xF; break;
    case cp0::Count << 3: set_count(value, cycle_); break;
    case cp0::Compare << 3:
        compare_ = value;
        cause_ &= ~cp0::TI;  // writing Compare drops the timer request
        schedule_timer(cycle_);
        break;
    case cp0::Status << 3:
        status_ = (status_ & ~kStatusWritable) | (value & kStatusWritable);
        status_ &= ~(kStatusClearOnly & ~value);
        update_mode();
        break;
    case cp0::Status << 3 | 1: intctl_ = (intctl_ & ~0x3E0u) | (value & 0x3E0u); break;
    case cp0::Status << 3 | 2: {
        // ESS and PSS; a set number above the highest one selects the highest.
        const uint32_t ess = std::min((value >> 12) & 0xF, kHighestShadowSet);
        const uint32_t pss = std::min((value >> 6) & 0xF, kHighestShadowSet);
        srsctl_ = (srsctl_ & ~((0xFu << 12) | (0xFu << 6))) | (ess << 12) | (pss << 6);
        break;
    }
    case cp0::Status << 3 | 3: srsmap_ = value; break;
    case cp0::Cause << 3: {
        const uint32_t count = count_at(cycle_);
        cause_ = (cause_ & ~kCauseWritable) | (value & kCauseWritable);
        set_count(count, cycle_);  // stops or restarts Count where it stands
        break;
    }
    case cp0::EPC << 3: epc_ = value; break;
    case cp0::PRId << 3 | 1: ebase_ = 0x80000000u | (value & 0x3FFFF000u); break;
    case cp0::Config << 3:
        config_ = (config_ & ~kConfigWritable) | (value & kConfigWritable);
        win_words_ = 0;  // KSEG0 cacheability may have changed
        break;
    case cp0::DEPC << 3: depc_ = value; break;
    case cp0::ErrorEPC << 3: error_epc_ = value; break;
    case cp0::DESAVE << 3: desave_ = value; break;
    default: break;  // read-only or not implemented
    }
}

// ---------------------------------------------------------------- exceptions

bool Core::interrupt_pending() const {
    return req_level_ > ((status_ >> cp0::IplShift) & 0x3F) &&
           (status_ & (cp0::IE | cp0::EXL | cp0::ERL)) == cp0::IE && !(debug_ & cp0::DM);
}

void Core::raise(unsigned code, uint32_t badvaddr, unsigned ce) {
    if (code == kExcAdEL || code == kExcAdES) badvaddr_ = badvaddr;
    if (code == kExcCpU) cause_ = (cause_ & ~(3u << cp0::CeShift)) | ((ce & 3) << cp0::CeShift);
    enter_exception(code, cur_pc_, in_delay_slot(cur_pc_, prev_pc_), false);
}

void Core::take_interrupt() { enter_exception(kExcInt, pc_, in_delay_slot(pc_, cur_pc_), true); }

void Core::enter_exception(unsigned code, uint32_t at, bool bd, bool interrupt) {
    const bool nested = (status_ & cp0::EXL) != 0;
    if (!nested) {
        epc_ = bd ? at - 4 : at;
        cause_ = bd ? cause_ | cp0::BD : cause_ & ~cp0::BD;
        if (kHighestShadowSet > 0 && !(status_ & cp0::BEV)) {
            const unsigned css = srsctl_ & 0xF;
            const unsigned next = interrupt ? req_shadow_ : shadow_set(12);
            srsctl_ = (srsctl_ & ~((0xFu << 6) | 0xFu)) | (css << 6) | next;
            select_set(next);
        }
    }
    cause_ = (cause_ & ~(0x1Fu << cp0::ExcShift)) | (code << cp0::ExcShift);
    status_ |= cp0::EXL;

    uint32_t vector;
    const bool vectored = interrupt && (cause_ & cp0::IV);
    if (status_ & cp0::BEV) {
        vector = vectored ? kBevInterruptVector : kBevGeneralVector;
    } else {
        const uint32_t base = ebase_ & 0xFFFFF000u;
        const uint32_t spacing = ((intctl_ >> 5) & 0x1F) << 5;
        vector = vectored ? base + kInterruptOffset + req_vector_ * spacing : base + kGeneralOffset;
    }
    set_pc(vector);
    cycle_ += kExceptionEntryCycles;
    ++gen_;
    waiting_ = false;
    update_mode();

    bool ok;
    const uint32_t handler = word_at(vector, ok);
    if ((!ok || handler == kErasedWord) && report(FaultKind::NoHandler, at, vector, code, bd)) fault_stop_ = true;
}

void Core::enter_debug(uint32_t at, bool bd) {
    if (!(debug_ & cp0::DM)) {
        depc_ = bd ? at - 4 : at;
        debug_ = (debug_ & ~cp0::DBD) | (bd ? cp0::DBD : 0);
    }
    debug_ |= cp0::DM | cp0::DBp;
    set_pc(kDebugVector);
    cycle_ += kExceptionEntryCycles;
    ++gen_;
    update_mode();
    if (report(FaultKind::DebugMode, at, kDebugVector, 0, bd)) fault_stop_ = true;
}

void Core::eret() {
    uint32_t target;
    if (status_ & cp0::ERL) {
        target = error_epc_;
        status_ &= ~cp0::ERL;
    } else {
        target = epc_;
        status_ &= ~cp0::EXL;
        if (kHighestShadowSet > 0 && !(status_ & cp0::BEV)) {
            const unsigned pss = shadow_set(6);
            srsctl_ = (srsctl_ & ~0xFu) | pss;
            select_set(pss);
        }
    }
    llbit_ = false;
    update_mode();
    ++gen_;
    if (target & 1) {
        isa_switch(target);
        return;
    }
    set_pc(target);
}

// ---------------------------------------------------------------- faults

bool Core::report(FaultKind kind, uint32_t pc, uint32_t address, unsigned exc_code, int bd) {
    fault_ = Fault{};
    fault_.kind = kind;
    fault_.pc = pc;
    bool ok;
    fault_.word = word_at(pc, ok);
    fault_.disassembly = ok ? disassemble(fault_.word, pc) : "(no instruction)";
    fault_.address = address;
    fault_.exc_code = exc_code;
    fault_.in_delay_slot = bd >= 0 ? bd != 0 : pc == cur_pc_ && in_delay_slot(cur_pc_, prev_pc_);
    fault_.cycle = cycle_;
    fault_.instructions = instret_;
    std::memcpy(fault_.regs, r_, sizeof fault_.regs);
    fault_.hi = hi_;
    fault_.lo = lo_;
    const bool stop = host_.violation(fault_);
    return stop || kind == FaultKind::IsaModeSwitch;
}

} // namespace m4k
