#pragma once
// Ports B to G (this part has no port A): TRIS, PORT, LAT and ODC per port,
// each with CLR/SET/INV aliases. A PORT write lands in the latch; a PORT read
// gives the pin levels (latch on outputs, what drives the pin on inputs).
#include <cstdint>

#include "sim/bus_map.h"
#include "sim/model.h"

namespace sim {

class IoPorts : public Peripheral {
public:
    explicit IoPorts(Board& board) : board_(board) {}
    void claim(BusMap& bus);

    uint32_t pins(Port p) const {
        const State& s = ports_[static_cast<int>(p)];
        return ((s.lat & ~s.tris) | (s.input & s.tris)) & 0xFFFFu;
    }
    uint32_t tris(Port p) const { return ports_[static_cast<int>(p)].tris; }
    uint32_t lat(Port p) const { return ports_[static_cast<int>(p)].lat; }
    // Something outside the chip drives pin `bit` of `p`.
    void drive(Port p, int bit, bool level);

    uint32_t peek(unsigned reg) const override;
    void write(unsigned reg, AliasOp op, uint32_t value, uint32_t lanes) override;

private:
    struct State {
        uint32_t tris = 0xFFFF;  // all inputs at reset
        uint32_t lat = 0;
        uint32_t odc = 0;
        uint32_t input = 0;
    };
    enum : unsigned { kTris, kPort, kLat, kOdc, kRegsPerPort };

    void changed(int port, uint32_t before);

    Board& board_;
    State ports_[kPortCount];
};

}  // namespace sim
