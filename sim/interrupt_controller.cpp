#include "sim/interrupt_controller.h"

#include <string>

namespace sim {
namespace {

constexpr uint32_t kBase = 0x1F881000u;
constexpr uint32_t kMvec = 1u << 12, kSs0 = 1u << 16;
constexpr uint32_t kCoreTimerFlag = 1u << 0;  // IFS0.CTIF, IRQ 0

}  // namespace

void InterruptController::claim(BusMap& bus) {
    const char* owner = "interrupt controller";
    bus.claim(*this, owner, "INTCON", kBase + 0x00, kIntcon, true);
    bus.claim(*this, owner, "INTSTAT", kBase + 0x10, kIntstat, false);
    bus.claim(*this, owner, "IPTMR", kBase + 0x20, kIptmr, true);
    bus.claim(*this, owner, "IFS0", kBase + 0x30, kIfs0, true);
    bus.claim(*this, owner, "IFS1", kBase + 0x40, kIfs1, true);
    bus.claim(*this, owner, "IEC0", kBase + 0x60, kIec0, true);
    bus.claim(*this, owner, "IEC1", kBase + 0x70, kIec1, true);
    for (unsigned n = 0; n < kIpcCount; ++n)
        bus.claim(*this, owner, "IPC" + std::to_string(n), kBase + 0x90 + 0x10 * n, kIpc0 + n, true);
}

int InterruptController::vector_of(unsigned irq) {
    // IRQs 0..22 have a vector each; from 23 on a peripheral's error, transmit
    // and receive IRQs share its vector.
    struct Group {
        unsigned first, last;
        int vector;
    };
    static constexpr Group kGroups[] = {
        {23, 25, 23},  // SPI1
        {26, 28, 24},  // UART1
        {29, 31, 25},  // I2C1
        {32, 32, 26},  // change notice
        {33, 33, 27},  // ADC
        {34, 34, 28},  // parallel master port
        {35, 35, 29},  // comparator 1
        {36, 36, 30},  // comparator 2
        {37, 39, 31},  // SPI2
        {40, 42, 32},  // UART2
        {43, 45, 33},  // I2C2
        {46, 46, 34},  // fail-safe clock monitor
        {47, 47, 35},  // RTCC
        {48, 48, 36}, {49, 49, 37}, {50, 50, 38}, {51, 51, 39},  // DMA channels 0..3
        {56, 56, 44},  // flash control
    };
    if (irq <= 22) return static_cast<int>(irq);
    for (const Group& g : kGroups)
        if (irq >= g.first && irq <= g.last) return g.vector;
    return -1;
}

uint32_t* InterruptController::storage(unsigned reg) {
    switch (reg) {
        case kIntcon: return &intcon_;
        case kIntstat: return nullptr;  // read-only
        case kIptmr: return &iptmr_;
        case kIfs0: return &ifs_[0];
        case kIfs1: return &ifs_[1];
        case kIec0: return &iec_[0];
        case kIec1: return &iec_[1];
        default: return &ipc_[reg - kIpc0];
    }
}

uint32_t InterruptController::peek(unsigned reg) const {
    switch (reg) {
        case kIntcon: return intcon_;
        case kIntstat: return (uint32_t{request_.level} << 8) | request_.vector;  // SRIPL, VEC
        case kIptmr: return iptmr_;
        case kIfs0: return ifs_[0];
        case kIfs1: return ifs_[1];
        case kIec0: return iec_[0];
        case kIec1: return iec_[1];
        default: return ipc_[reg - kIpc0];
    }
}

void InterruptController::write(unsigned reg, AliasOp op, uint32_t value, uint32_t lanes) {
    uint32_t* r = storage(reg);
    if (!r) return;
    *r = apply_write(*r, op, value, lanes);
    // Under the level behaviour the flag cannot be cleared while the request is up.
    if (reg == kIfs0 && core_timer_request_ && core_timer_flag_ == CoreTimerFlag::Level) ifs_[0] |= kCoreTimerFlag;
    update();
}

void InterruptController::raise(unsigned irq) {
    ifs_[irq / 32] |= 1u << (irq % 32);
    update();
}

void InterruptController::core_timer_match() {
    core_timer_request_ = true;
    raise(0);
}

void InterruptController::update() {
    InterruptRequest best;
    int best_sub = -1;
    for (unsigned word = 0; word < 2; ++word) {
        uint32_t pending = ifs_[word] & iec_[word];
        while (pending) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(pending));
            pending &= pending - 1;
            const int vector = vector_of(word * 32 + bit);
            if (vector < 0) continue;
            const uint32_t field = ipc_[vector / 4] >> ((vector % 4) * 8);
            const uint8_t level = static_cast<uint8_t>((field >> 2) & 7u);
            const int sub = static_cast<int>(field & 3u);
            if (level == 0) continue;  // priority 0: the source is off
            // Higher level wins, then higher subpriority, then the lower vector.
            if (level > best.level || (level == best.level && sub > best_sub)) {
                best.level = level;
                best.vector = static_cast<uint8_t>(vector);
                best_sub = sub;
            }
        }
    }
    if (best.level != 0) {
        if (intcon_ & kMvec) {
            best.shadow_set = best.level == 7 ? 1 : 0;  // the shadow set serves priority 7
        } else {
            best.vector = 0;  // single-vector mode: one vector for everything
            best.shadow_set = (intcon_ & kSs0) ? 1 : 0;
        }
    }
    request_ = best;
}

}  // namespace sim
