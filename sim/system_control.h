#pragma once
// Oscillator control (OSCCON, OSCTUN), the debug port (DDPCON), the device ID
// and the system unlock (SYSKEY). OSCCON takes a write only while the system
// is unlocked: the two keys written to SYSKEY as back-to-back stores; any
// other SYSKEY value relocks.
#include <cstdint>

#include "sim/bus_map.h"

namespace sim {

class Board;

class SystemControl : public Peripheral {
public:
    explicit SystemControl(Board& board) : board_(board) {}
    void claim(BusMap& bus);

    // Peripheral-bus divider (OSCCON.PBDIV): 1, 2, 4 or 8.
    uint32_t pb_divider() const { return 1u << ((osccon_ >> 19) & 3u); }
    // Every store on the bus passes here first: anything between the two keys spoils the sequence.
    void store_seen(uint32_t address) {
        if (unlock_ == Unlock::FirstKey && address != kSyskeyAddress) unlock_ = Unlock::Locked;
    }

    uint32_t peek(unsigned reg) const override;
    void write(unsigned reg, AliasOp op, uint32_t value, uint32_t lanes) override;

private:
    static constexpr uint32_t kSyskeyAddress = 0x1F80F230u;
    enum : unsigned { kOsccon, kOsctun, kDdpcon, kDevid, kSyskey };
    enum class Unlock : uint8_t { Locked, FirstKey, Unlocked };

    Board& board_;
    // PB ÷2, primary oscillator with PLL current and requested, PLL locked.
    uint32_t osccon_ = (1u << 19) | (3u << 12) | (3u << 8) | (1u << 5);
    uint32_t osctun_ = 0;
    uint32_t ddpcon_ = 0x0008u;  // JTAG port enabled at reset
    Unlock unlock_ = Unlock::Locked;
};

}  // namespace sim
