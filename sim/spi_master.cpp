#include "sim/spi_master.h"

#include "sim/board.h"

namespace sim {
namespace {

constexpr uint32_t kSpi1Base = 0x1F805800u, kSpi2Base = 0x1F805A00u;
constexpr uint32_t kOn = 1u << 15, kMode32 = 1u << 11, kMode16 = 1u << 10, kSmp = 1u << 9, kCke = 1u << 8,
                   kCkp = 1u << 6, kMsten = 1u << 5;
constexpr uint32_t kRbf = 1u << 0, kTbe = 1u << 3, kRov = 1u << 6, kBusy = 1u << 11;
constexpr uint32_t kBrgMask = 0x1FFFu;

}  // namespace

void SpiMaster::claim(BusMap& bus) {
    const uint32_t base = channel_ == 1 ? kSpi1Base : kSpi2Base;
    const std::string n = name();
    bus.claim(*this, n, n + "CON", base + 0x00, kCon, true);
    bus.claim(*this, n, n + "STAT", base + 0x10, kStat, true);
    bus.claim(*this, n, n + "BUF", base + 0x20, kBuf, false);
    bus.claim(*this, n, n + "BRG", base + 0x30, kBrg, true);
}

// A transfer whose clocks have run has landed in the receive buffer.
void SpiMaster::settle() {
    if (busy_ && board_.now() >= done_at_) {
        busy_ = false;
        if (rbf_) stat_ |= kRov;
        rbf_ = true;
    }
}

uint32_t SpiMaster::read(unsigned reg, bool& side_effect) {
    settle();
    if (reg == kBuf) {
        side_effect = true;
        rbf_ = false;
        return rx_;
    }
    return peek(reg);
}

uint32_t SpiMaster::peek(unsigned reg) const {
    const bool done = busy_ && board_.now() >= done_at_;
    const bool busy = busy_ && !done;
    switch (reg) {
        case kCon: return con_;
        case kStat:
            return (stat_ & kRov) | ((rbf_ || done) ? kRbf : 0u) | (busy ? kBusy : kTbe) |
                   ((done && rbf_) ? kRov : 0u);
        case kBuf: return rx_;
        default: return brg_;
    }
}

void SpiMaster::write(unsigned reg, AliasOp op, uint32_t value, uint32_t lanes) {
    settle();
    switch (reg) {
        case kCon:
            con_ = apply_write(con_, op, value, lanes);
            if (!(con_ & kOn)) {  // switching the module off resets its state
                busy_ = false;
                rbf_ = false;
                stat_ = 0;
            }
            break;
        case kStat: stat_ = apply_write(stat_, op, value, lanes) & kRov; break;  // only SPIROV is writable
        case kBuf: start_transfer(apply_write(tx_, op, value, lanes)); break;
        default: brg_ = apply_write(brg_, op, value, lanes) & kBrgMask; break;
    }
}

void SpiMaster::start_transfer(uint32_t value) {
    tx_ = value;
    if (!(con_ & kOn)) {
        board_.violation(name(), "SPIxBUF written while the module is off");
        return;
    }
    if (busy_) board_.violation(name(), "SPIxBUF written while a transfer is in progress");
    const uint32_t divider = board_.pb_divider();
    SpiLink link;
    link.channel = channel_;
    link.sck_hz = kSysClockHz / divider / (2u * (brg_ + 1u));
    link.ckp = (con_ & kCkp) != 0;
    link.cke = (con_ & kCke) != 0;
    link.smp = (con_ & kSmp) != 0;
    link.bits = (con_ & kMode32) ? 32 : (con_ & kMode16) ? 16 : 8;
    link.now = board_.now();
    link.bit_cycles = Cycle{2} * (brg_ + 1u) * divider;
    if (!(con_ & kMsten)) board_.violation(name(), "transfer started in slave mode");
    Model* device = board_.spi_device(channel_);
    rx_ = device ? device->exchange(static_cast<uint8_t>(value), link) : 0xFFu;
    busy_ = true;
    done_at_ = board_.now() + Cycle{8} * link.bit_cycles;
    board_.reschedule();
}

}  // namespace sim
