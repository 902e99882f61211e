#pragma once
// The chip's SFR window as one map: every peripheral claims its registers
// here, and the board decodes each CPU access once, by physical address.
//
// A register occupies 16 bytes of the window: its word, then the CLR, SET and
// INV alias words when it has them (writing 1 bits clears, sets or toggles
// exactly those bits). A byte or halfword access reaches the lanes it covers.
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr uint32_t kSfrWindowBase = 0x1F800000u;  // physical
constexpr uint32_t kSfrWindowSize = 0x00100000u;
constexpr uint32_t kRegisterStride = 0x10u;

// Physical address of a KSEG0/KSEG1 address (the fixed mapping).
constexpr uint32_t physical(uint32_t address) { return address & 0x1FFFFFFFu; }

enum class AliasOp : uint8_t { Write = 0, Clear = 1, Set = 2, Invert = 3 };

// `old` after a write of `value` through `op` to the byte lanes in `lanes`.
constexpr uint32_t apply_write(uint32_t old, AliasOp op, uint32_t value, uint32_t lanes) {
    value &= lanes;
    switch (op) {
        case AliasOp::Clear: return old & ~value;
        case AliasOp::Set: return old | value;
        case AliasOp::Invert: return old ^ value;
        case AliasOp::Write: break;
    }
    return (old & ~lanes) | value;
}

// A block of registers. `reg` is the index the peripheral gave the register
// when it claimed it.
class Peripheral {
public:
    virtual ~Peripheral() = default;
    // The CPU reads the register; `side_effect` is set when the read changed
    // something (a read that may not be repeated or skipped freely). Most
    // registers read as they peek.
    virtual uint32_t read(unsigned reg, bool& side_effect) {
        (void)side_effect;
        return peek(reg);
    }
    // The register's value with no bus cycle and no side effect.
    virtual uint32_t peek(unsigned reg) const = 0;
    // The CPU writes `value` through `op` to the byte lanes set in `lanes`.
    virtual void write(unsigned reg, AliasOp op, uint32_t value, uint32_t lanes) = 0;
};

struct RegisterEntry {
    uint32_t address = 0;  // physical address of the register word
    std::string name;      // as the chip's register list names it (TRISB, SPI1BUF, …)
    std::string owner;     // the peripheral that claimed it (port B, SPI1, …)
    Peripheral* peripheral = nullptr;
    unsigned reg = 0;
    bool aliases = false;  // has CLR/SET/INV words
};

class BusMap {
public:
    BusMap();
    // `peripheral` claims the register at physical `address` (16-byte aligned,
    // inside the SFR window, not claimed before; std::logic_error otherwise).
    void claim(Peripheral& peripheral, const std::string& owner, const std::string& name, uint32_t address,
               unsigned reg, bool aliases);

    // The register whose 16-byte slot holds physical `address`, or null.
    const RegisterEntry* find(uint32_t address) const {
        const uint32_t offset = address - kSfrWindowBase;
        if (offset >= kSfrWindowSize) return nullptr;
        const uint16_t slot = slots_[offset / kRegisterStride];
        return slot ? &entries_[slot - 1] : nullptr;
    }
    const std::vector<RegisterEntry>& entries() const { return entries_; }

private:
    std::vector<RegisterEntry> entries_;
    std::vector<uint16_t> slots_;  // entry index + 1 per 16-byte slot of the window, 0: unclaimed
};

}  // namespace sim
