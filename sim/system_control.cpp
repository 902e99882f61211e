#include "sim/system_control.h"

#include "sim/board.h"

namespace sim {
namespace {
constexpr uint32_t kUnlock1 = 0xAA996655u, kUnlock2 = 0x556699AAu;
constexpr uint32_t kDeviceId = 0x00916053u;  // PIC32MX340F512H, revision field left 0
}  // namespace

void SystemControl::claim(BusMap& bus) {
    bus.claim(*this, "oscillator", "OSCCON", 0x1F80F000u, kOsccon, true);
    bus.claim(*this, "oscillator", "OSCTUN", 0x1F80F010u, kOsctun, true);
    bus.claim(*this, "debug port", "DDPCON", 0x1F80F200u, kDdpcon, false);
    bus.claim(*this, "device ID", "DEVID", 0x1F80F220u, kDevid, false);
    bus.claim(*this, "system unlock", "SYSKEY", kSyskeyAddress, kSyskey, true);
}

uint32_t SystemControl::peek(unsigned reg) const {
    switch (reg) {
        case kOsccon: return osccon_;
        case kOsctun: return osctun_;
        case kDdpcon: return ddpcon_;
        case kDevid: return kDeviceId;
        default: return 0;  // SYSKEY reads as 0
    }
}

void SystemControl::write(unsigned reg, AliasOp op, uint32_t value, uint32_t lanes) {
    switch (reg) {
        case kOsccon:
            if (unlock_ != Unlock::Unlocked) {
                board_.violation("board", "OSCCON written without the SYSKEY unlock sequence; write ignored");
                return;
            }
            osccon_ = apply_write(osccon_, op, value, lanes);
            return;
        case kOsctun: osctun_ = apply_write(osctun_, op, value, lanes); return;
        case kDdpcon: ddpcon_ = apply_write(ddpcon_, op, value, lanes); return;
        case kDevid: return;
        default: {
            // Only whole-word stores of the keys count.
            const bool word = op == AliasOp::Write && lanes == 0xFFFFFFFFu;
            if (word && value == kUnlock1)
                unlock_ = Unlock::FirstKey;
            else if (word && value == kUnlock2 && unlock_ == Unlock::FirstKey)
                unlock_ = Unlock::Unlocked;
            else
                unlock_ = Unlock::Locked;
        }
    }
}

}  // namespace sim
