#include "sim/io_ports.h"

#include "sim/board.h"

namespace sim {
namespace {
constexpr uint32_t kPortBBase = 0x1F886040u;  // TRISB; the ports follow 0x40 apart
constexpr uint32_t kPortStride = 0x40u;
}  // namespace

void IoPorts::claim(BusMap& bus) {
    static const char* const kNames[kRegsPerPort] = {"TRIS", "PORT", "LAT", "ODC"};
    for (int p = 0; p < kPortCount; ++p) {
        const std::string letter = port_name(static_cast<Port>(p));
        for (unsigned r = 0; r < kRegsPerPort; ++r)
            bus.claim(*this, "port " + letter, kNames[r] + letter, kPortBBase + kPortStride * p + kRegisterStride * r,
                      static_cast<unsigned>(p) * kRegsPerPort + r, true);
    }
}

uint32_t IoPorts::peek(unsigned reg) const {
    const int port = static_cast<int>(reg / kRegsPerPort);
    const State& s = ports_[port];
    switch (reg % kRegsPerPort) {
        case kTris: return s.tris;
        case kPort: return pins(static_cast<Port>(port));
        case kLat: return s.lat;
        default: return s.odc;
    }
}

void IoPorts::write(unsigned reg, AliasOp op, uint32_t value, uint32_t lanes) {
    const int port = static_cast<int>(reg / kRegsPerPort);
    State& s = ports_[port];
    const uint32_t before = pins(static_cast<Port>(port));
    switch (reg % kRegsPerPort) {
        case kTris: s.tris = apply_write(s.tris, op, value, lanes) & 0xFFFFu; break;
        case kPort:  // a PORT write, like a LAT write, lands in the latch
        case kLat: s.lat = apply_write(s.lat, op, value, lanes) & 0xFFFFu; break;
        default: s.odc = apply_write(s.odc, op, value, lanes) & 0xFFFFu; return;
    }
    changed(port, before);
}

void IoPorts::drive(Port p, int bit, bool level) {
    State& s = ports_[static_cast<int>(p)];
    const uint32_t before = pins(p);
    if (level)
        s.input |= 1u << bit;
    else
        s.input &= ~(1u << bit);
    changed(static_cast<int>(p), before);
}

void IoPorts::changed(int port, uint32_t before) {
    const uint32_t after = pins(static_cast<Port>(port));
    if (after != before) board_.pins_changed(static_cast<Port>(port), before, after);
}

}  // namespace sim
