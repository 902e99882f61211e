#include "sim/board.h"

#include <algorithm>
#include <cstdio>

namespace sim {
namespace {

Board* g_current = nullptr;

// Register map (KSEG1 base addresses).
constexpr uint32_t kPortBase = 0xBF886040u;  // TRISB; ports are 0x40 apart, B..G
constexpr uint32_t kPortEnd = kPortBase + 0x40u * kPortCount;
constexpr uint32_t kSpi1Base = 0xBF805800u;
constexpr uint32_t kSpi2Base = 0xBF805A00u;
constexpr uint32_t kSpiSize = 0x40u;
constexpr uint32_t kAd1pcfg = 0xBF809060u;
constexpr uint32_t kDdpcon = 0xBF80F200u;
constexpr uint32_t kOsccon = 0xBF80F000u;
constexpr uint32_t kSyskey = 0xBF80F230u;
constexpr uint32_t kIntcon = 0xBF881000u;
constexpr uint32_t kIfs0 = 0xBF881030u;
constexpr uint32_t kIec0 = 0xBF881060u;
constexpr uint32_t kIpc0 = 0xBF881090u;
constexpr uint32_t kDmacon = 0xBF883000u;
constexpr uint32_t kChecon = 0xBF884000u;
constexpr uint32_t kBmxcon = 0xBF882000u;

constexpr uint32_t kSpiOn = 1u << 15, kSpiMsten = 1u << 5, kSpiCkp = 1u << 6, kSpiCke = 1u << 8,
                   kSpiSmp = 1u << 9, kSpiMode16 = 1u << 10, kSpiMode32 = 1u << 11;
constexpr uint32_t kSpiRbf = 1u << 0, kSpiTbe = 1u << 3, kSpiRov = 1u << 6, kSpiBusy = 1u << 11;
constexpr uint32_t kStatusIe = 1u << 0;
constexpr uint32_t kStatusIplShift = 10, kStatusIplMask = 0x3Fu << 10;

// A register read this many times in a row with the same value is being
// polled: nothing can change it before the next event.
constexpr int kPollReads = 3;
// A Nop() spin this long without a register access waits for an interrupt.
constexpr int kNopSpin = 64;
// Cycles from the interrupt request to the first instruction of the handler
// (exception entry, prologue that saves the context).
constexpr Cycle kInterruptEntryCycles = 20;

uint32_t apply_alias(uint32_t old, uint32_t value, uint32_t op) {
    switch (op) {
        case 1: return old & ~value;  // CLR
        case 2: return old | value;   // SET
        case 3: return old ^ value;   // INV
        default: return value;
    }
}

}  // namespace

const char* port_name(Port p) {
    static const char* const names[] = {"B", "C", "D", "E", "F", "G"};
    return names[static_cast<int>(p)];
}

Board::Board() {
    regs_ = {
        {kAd1pcfg, 0x0000u},
        {kDdpcon, 0x0008u},  // JTAG enabled at reset
        {kOsccon, (1u << 19) | (3u << 12) | (3u << 8) | (1u << 5)},  // PB ÷2, primary + PLL, locked
        {kIntcon, 0},
        {kDmacon, 0},
        {kChecon, 0x7u},
        {kBmxcon, 0x001F0041u},
    };
    g_current = this;
}

Board::~Board() {
    if (g_current == this) g_current = nullptr;
}

Board* Board::current() { return g_current; }

uint32_t Board::pb_divider() const {
    const uint32_t code = (peek(kOsccon) >> 19) & 3u;
    return 1u << code;
}

// ---------------------------------------------------------------- time

void Board::advance(Cycle cycles) { tick(cycles); }

void Board::tick(Cycle cycles) {
    now_ += cycles;
    if (now_ >= next_due_) process_due();
    check_interrupts();
}

void Board::process_due() {
    if (processing_) return;
    if (now_ >= stop_at_ || stop_requested_) throw RunEnded{};
    processing_ = true;
    while (now_ >= ct_match_at_) {
        ifs0_ |= 1u;  // core timer match raises CTIF
        ct_match_at_ += Cycle{1} << 33;  // next match after a full 32-bit wrap of Count
    }
    for (Device* d : devices_)
        if (d->next_event() <= now_) d->advance(now_);
    for (Watcher& w : watchers_) {
        while (now_ >= w.next) {
            w.next += w.period;
            w.fn(*this);
        }
    }
    processing_ = false;
    recompute_next_due();
}

void Board::recompute_next_due() {
    Cycle next = std::min(stop_at_, ct_match_at_);
    if (stop_requested_) next = now_;
    for (const SpiState& s : spi_)
        if (s.busy) next = std::min(next, s.done_at);
    for (const Device* d : devices_) next = std::min(next, d->next_event());
    for (const Watcher& w : watchers_) next = std::min(next, w.next);
    next_due_ = next;
}

void Board::reschedule() { recompute_next_due(); }

void Board::skip_to_next_event() {
    if (next_due_ == kNever) return;
    if (next_due_ > now_) now_ = next_due_;
    process_due();
    check_interrupts();
}

void Board::stop_at(Cycle when) {
    stop_at_ = when;
    recompute_next_due();
}

void Board::every(Cycle period, std::function<void(Board&)> fn) {
    watchers_.push_back(Watcher{period, now_ + period, std::move(fn)});
    recompute_next_due();
}

bool Board::run(const std::function<void()>& entry) {
    try {
        entry();
    } catch (const RunEnded&) {
        processing_ = false;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- models

void Board::attach(Device& d) {
    devices_.push_back(&d);
    recompute_next_due();
}

void Board::detach(Device& d) {
    devices_.erase(std::remove(devices_.begin(), devices_.end(), &d), devices_.end());
    recompute_next_due();
}

void Board::attach_spi(int channel, SpiDevice* d) { spi_[channel == 1 ? 0 : 1].device = d; }

void Board::violation(const std::string& source, const std::string& text) {
    // A broken driver repeats its fault on every byte: keep the first ones.
    if (++violation_count_ > kViolationLogLimit) return;
    char when[32];
    std::snprintf(when, sizeof when, "%.6f s", seconds());
    violations_.push_back(source + " at " + when + ": " + text);
}

// ---------------------------------------------------------------- pins

uint32_t Board::pins(Port p) const {
    const PortState& s = port_[idx(p)];
    return ((s.lat & ~s.tris) | (s.input & s.tris)) & 0xFFFFu;
}

void Board::drive(Port p, int bit, bool level) {
    const uint32_t before = pins(p);
    PortState& s = port_[idx(p)];
    if (level)
        s.input |= 1u << bit;
    else
        s.input &= ~(1u << bit);
    notify_pins(idx(p), before);
}

void Board::notify_pins(int port, uint32_t before) {
    const uint32_t after = pins(static_cast<Port>(port));
    if (after == before) return;
    for (Device* d : devices_) d->pins_changed(static_cast<Port>(port), before, after);
}

void Board::write_port_reg(int port, int reg, uint32_t value) {
    PortState& s = port_[port];
    const uint32_t before = pins(static_cast<Port>(port));
    if (reg == 0)
        s.tris = value & 0xFFFFu;
    else if (reg == 1 || reg == 2)
        s.lat = value & 0xFFFFu;  // a PORT write lands in the latch
    notify_pins(port, before);
}

// ---------------------------------------------------------------- registers

uint32_t& Board::reg_ref(uint32_t base) {
    // The interrupt controller's registers are looked at after every access.
    if (base == kIfs0) return ifs0_;
    if (base == kIec0) return iec0_;
    if (base == kIpc0) return ipc0_;
    for (auto& r : regs_)
        if (r.first == base) return r.second;
    regs_.emplace_back(base, 0u);
    return regs_.back().second;
}

uint32_t Board::peek(uint32_t addr) const {
    const uint32_t base = addr & ~0xFu;
    if (base >= kPortBase && base < kPortEnd) {
        const int port = static_cast<int>((base - kPortBase) / 0x40u);
        const int reg = static_cast<int>(((base - kPortBase) >> 4) & 3u);
        const PortState& s = port_[port];
        return reg == 0 ? s.tris : reg == 1 ? pins(static_cast<Port>(port)) : reg == 2 ? s.lat : 0u;
    }
    for (int i = 0; i < 2; ++i) {
        const uint32_t sb = i == 0 ? kSpi1Base : kSpi2Base;
        if (base >= sb && base < sb + kSpiSize) {
            const SpiState& s = spi_[i];
            switch ((base - sb) >> 4) {
                case 0: return s.con;
                case 1: return s.stat | (s.rbf ? kSpiRbf : 0u);
                case 2: return s.rx;
                default: return s.brg;
            }
        }
    }
    if (base == kIfs0) return ifs0_;
    if (base == kIec0) return iec0_;
    if (base == kIpc0) return ipc0_;
    for (const auto& r : regs_)
        if (r.first == base) return r.second;
    return 0;
}

uint32_t Board::load(uint32_t base) {
    if (base >= kPortBase && base < kPortEnd) return peek(base);
    return reg_ref(base);
}

void Board::store(uint32_t base, uint32_t value) {
    if (base == kOsccon && unlock_state_ != 2) {
        violation("board", "OSCCON written without the SYSKEY unlock sequence; write ignored");
        return;
    }
    reg_ref(base) = value;
}

uint32_t Board::sfr_read(uint32_t addr) {
    nop_streak_ = 0;
    const uint32_t base = addr & ~0xFu;
    const uint32_t op = (addr >> 2) & 3u;
    uint32_t value = 0;
    if (base >= kSpi1Base && base < kSpi1Base + kSpiSize) {
        value = spi_read(spi_[0], static_cast<int>((base - kSpi1Base) >> 4));
    } else if (base >= kSpi2Base && base < kSpi2Base + kSpiSize) {
        value = spi_read(spi_[1], static_cast<int>((base - kSpi2Base) >> 4));
    } else if (op != 0 || base == kSyskey) {
        value = 0;  // CLR/SET/INV aliases and SYSKEY read as 0
    } else {
        value = load(base);
    }

    if (addr == last_read_addr_ && value == last_read_value_) {
        if (++same_reads_ >= kPollReads) {
            same_reads_ = 0;
            tick(kAccessCycles);
            skip_to_next_event();
            return value;
        }
    } else {
        last_read_addr_ = addr;
        last_read_value_ = value;
        same_reads_ = 0;
    }
    tick(kAccessCycles);
    return value;
}

void Board::sfr_write(uint32_t addr, uint32_t value) {
    nop_streak_ = 0;
    last_read_addr_ = 0;
    same_reads_ = 0;
    const uint32_t base = addr & ~0xFu;
    const uint32_t op = (addr >> 2) & 3u;

    if (base == kSyskey) {
        // The two keys must be back-to-back stores; anything else relocks.
        if (op == 0 && value == 0xAA996655u)
            unlock_state_ = 1;
        else if (op == 0 && value == 0x556699AAu && unlock_state_ == 1)
            unlock_state_ = 2;
        else
            unlock_state_ = 0;
    } else {
        if (unlock_state_ == 1) unlock_state_ = 0;
        if (base >= kPortBase && base < kPortEnd) {
            const int port = static_cast<int>((base - kPortBase) / 0x40u);
            const int reg = static_cast<int>(((base - kPortBase) >> 4) & 3u);
            const uint32_t old = reg == 0 ? port_[port].tris : port_[port].lat;
            write_port_reg(port, reg, apply_alias(old, value, op));
        } else if (base >= kSpi1Base && base < kSpi1Base + kSpiSize) {
            spi_write(spi_[0], 1, static_cast<int>(((addr - kSpi1Base) >> 2)), value);
        } else if (base >= kSpi2Base && base < kSpi2Base + kSpiSize) {
            spi_write(spi_[1], 2, static_cast<int>(((addr - kSpi2Base) >> 2)), value);
        } else {
            store(base, apply_alias(load(base), value, op));
        }
    }
    tick(kAccessCycles);
}

// ---------------------------------------------------------------- SPI

void Board::spi_settle(SpiState& s) {
    if (s.busy && now_ >= s.done_at) {
        s.busy = false;
        if (s.rbf) s.stat |= kSpiRov;
        s.rbf = true;
    }
}

uint32_t Board::spi_read(SpiState& s, int reg) {
    spi_settle(s);
    switch (reg) {
        case 0: return s.con;
        case 1: return (s.stat & kSpiRov) | (s.rbf ? kSpiRbf : 0u) | (s.busy ? kSpiBusy : kSpiTbe);
        case 2: {
            s.rbf = false;
            return s.rx;
        }
        default: return s.brg;
    }
}

// `word` is the register word index inside the SPI block: reg * 4 + alias op.
void Board::spi_write(SpiState& s, int channel, int word, uint32_t value) {
    spi_settle(s);
    const int reg = word >> 2;
    const uint32_t op = static_cast<uint32_t>(word & 3);
    const char* const who = channel == 1 ? "SPI1" : "SPI2";
    switch (reg) {
        case 0:
            s.con = apply_alias(s.con, value, op);
            if (!(s.con & kSpiOn)) {  // switching the module off resets its state
                s.busy = false;
                s.rbf = false;
                s.stat = 0;
            }
            break;
        case 1:
            s.stat = apply_alias(s.stat, value, op) & kSpiRov;  // only SPIROV is writable
            break;
        case 2: {
            if (!(s.con & kSpiOn)) {
                violation(who, "SPIxBUF written while the module is off");
                return;
            }
            if (s.busy) violation(who, "SPIxBUF written while a transfer is in progress");
            const uint32_t brg = s.brg & 0x1FFFu;
            SpiLink link;
            link.channel = channel;
            link.sck_hz = pb_clock_hz() / (2u * (brg + 1u));
            link.ckp = (s.con & kSpiCkp) != 0;
            link.cke = (s.con & kSpiCke) != 0;
            link.smp = (s.con & kSpiSmp) != 0;
            link.bits = (s.con & kSpiMode32) ? 32 : (s.con & kSpiMode16) ? 16 : 8;
            link.now = now_;
            if (!(s.con & kSpiMsten)) violation(who, "transfer started in slave mode");
            const uint8_t miso = s.device ? s.device->exchange(static_cast<uint8_t>(value), link) : 0xFFu;
            s.rx = miso;
            s.busy = true;
            s.done_at = now_ + Cycle{8} * 2u * (brg + 1u) * pb_divider();
            recompute_next_due();
            break;
        }
        default: s.brg = apply_alias(s.brg, value, op) & 0x1FFFu; break;
    }
}

// ---------------------------------------------------------------- CPU

void Board::nop() {
    if (++nop_streak_ >= kNopSpin) {
        nop_streak_ = 0;
        tick(1);
        skip_to_next_event();
        return;
    }
    tick(1);
}

uint32_t Board::core_timer_count() const { return count_origin_ + static_cast<uint32_t>(now_ >> 1); }

void Board::schedule_core_timer() {
    const uint32_t delta = compare_ - core_timer_count();
    ct_match_at_ = delta == 0 ? now_ : (((now_ >> 1) + delta) << 1);
    recompute_next_due();
}

uint32_t Board::cp0_read(int reg) {
    tick(1);
    switch (reg) {
        case 9: return core_timer_count();
        case 11: return compare_;
        case 12: return status_;
        default: return 0;
    }
}

void Board::cp0_write(int reg, uint32_t value) {
    if (reg == 9) {
        count_origin_ = value - static_cast<uint32_t>(now_ >> 1);
        schedule_core_timer();
    } else if (reg == 11) {
        compare_ = value;
        schedule_core_timer();
    } else if (reg == 12) {
        status_ = value;
    } else if (reg == 16) {
        config_k0_ = value & 7u;
    }
    tick(1);
}

uint32_t Board::di() {
    const uint32_t old = status_;
    status_ &= ~kStatusIe;
    tick(1);
    return old;
}

void Board::ei() {
    status_ |= kStatusIe;
    tick(1);
}

void Board::set_vector(int vector, void (*handler)()) { vectors_[vector] = handler; }

void Board::check_interrupts() {
    if (!(status_ & kStatusIe)) return;
    if (!(ifs0_ & iec0_ & 1u)) return;  // core timer: IRQ 0, vector 0
    const uint32_t priority = (ipc0_ >> 2) & 7u;
    const uint32_t ipl = (status_ & kStatusIplMask) >> kStatusIplShift;
    if (priority == 0 || priority <= ipl) return;
    void (*handler)() = vectors_[0];
    if (!handler) {
        if (!missing_vector_reported_) violation("board", "core-timer interrupt taken with no handler on vector 0");
        missing_vector_reported_ = true;
        return;
    }
    // The handler runs at the interrupt's priority level; eret restores the
    // interrupted status.
    const uint32_t saved = status_;
    status_ = (status_ & ~kStatusIplMask) | (priority << kStatusIplShift);
    ++interrupts_delivered_;
    tick(kInterruptEntryCycles);
    handler();
    status_ = saved;
}

}  // namespace sim
