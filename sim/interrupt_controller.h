#pragma once
// The interrupt controller as the core's external interrupt controller:
// INTCON, INTSTAT, IPTMR, IFS0/IFS1, IEC0/IEC1 and IPC0..IPC11. It hands the
// CPU one request — the priority level (0: none), the vector and the shadow
// register set of the pending, enabled source that wins — and keeps it up to
// date as flags, enables and priorities change.
//
// The core timer's request comes from the CPU (Count/Compare live in the
// core). Whether IFS0.CTIF is set once per match or follows the request level
// until Compare is written is not confirmed for the silicon: CoreTimerFlag
// picks one.
#include <cstdint>

#include "sim/bus_map.h"

namespace sim {

enum class CoreTimerFlag : uint8_t {
    Edge,   // CTIF is set once per Count = Compare match
    Level,  // CTIF is held set while the timer's request is up (until Compare is written)
};

struct InterruptRequest {
    uint8_t level = 0;       // requested priority level 1..7; 0: no request
    uint8_t vector = 0;      // 0..63
    uint8_t shadow_set = 0;  // register set the handler runs on
    bool operator==(const InterruptRequest&) const = default;
};

class InterruptController : public Peripheral {
public:
    explicit InterruptController(CoreTimerFlag core_timer_flag) : core_timer_flag_(core_timer_flag) {}
    void claim(BusMap& bus);

    const InterruptRequest& request() const { return request_; }
    // A source raises its flag (IRQ number = bit of IFS0, or 32 + bit of IFS1).
    void raise(unsigned irq);
    // Count reached Compare: the core timer's request goes up and CTIF is set.
    void core_timer_match();
    // Compare was written: the core timer's request goes down.
    void core_timer_request_dropped() { core_timer_request_ = false; }

    uint32_t peek(unsigned reg) const override;
    void write(unsigned reg, AliasOp op, uint32_t value, uint32_t lanes) override;

    // Vector of an IRQ (several IRQs of one peripheral share a vector); -1: none.
    static int vector_of(unsigned irq);

private:
    enum : unsigned { kIntcon, kIntstat, kIptmr, kIfs0, kIfs1, kIec0, kIec1, kIpc0 };
    static constexpr unsigned kIpcCount = 12;

    uint32_t* storage(unsigned reg);
    void update();

    CoreTimerFlag core_timer_flag_;
    bool core_timer_request_ = false;
    uint32_t intcon_ = 0, iptmr_ = 0;
    uint32_t ifs_[2] = {}, iec_[2] = {};
    uint32_t ipc_[kIpcCount] = {};
    InterruptRequest request_;
};

}  // namespace sim
