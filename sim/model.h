#pragma once
// What a model of a part on the board sees: board time, the ports, the SPI
// links, and the one way a model is plugged in.
#include <cstdint>
#include <string>

namespace sim {

using Cycle = uint64_t;
constexpr Cycle kNever = ~Cycle{0};
constexpr uint32_t kSysClockHz = 80'000'000;

constexpr Cycle cycles_from_ms(uint64_t ms) { return ms * (kSysClockHz / 1000); }
constexpr Cycle cycles_from_us(uint64_t us) { return us * (kSysClockHz / 1'000'000); }

// Timing figures of the parts are checked in picoseconds; one board cycle is 12.5 ns.
constexpr uint64_t kPicosecondsPerCycle = 1'000'000'000'000ull / kSysClockHz;
constexpr uint64_t picoseconds(Cycle cycles) { return cycles * kPicosecondsPerCycle; }
// Picoseconds of `clocks` periods of a clock at `hz`, rounded up.
constexpr uint64_t clock_picoseconds(uint64_t clocks, uint64_t hz) {
    return (clocks * 1'000'000'000'000ull + hz - 1) / hz;
}
// "12.5 ns", "1.63 us": a duration for a violation text.
std::string describe_picoseconds(uint64_t ps);

enum class Port : uint8_t { B, C, D, E, F, G };
constexpr int kPortCount = 6;
const char* port_name(Port p);
constexpr uint8_t port_bit(Port p) { return static_cast<uint8_t>(1u << static_cast<int>(p)); }

// How an SPI master is set up at the moment of a byte exchange.
struct SpiLink {
    int channel = 0;       // 1 or 2
    uint32_t sck_hz = 0;   // serial clock
    bool ckp = false;      // clock idles high
    bool cke = false;      // output changes on the active-to-idle edge
    bool smp = false;      // input sampled at the end of the bit time
    int bits = 8;          // frame width
    Cycle now = 0;         // board time at the start of the exchange
    Cycle bit_cycles = 0;  // board cycles of one bit
    // SPI mode number 0..3 (CPOL, CPHA) the link amounts to.
    int mode() const { return (ckp ? 2 : 0) | (cke ? 0 : 1); }
    // Board time at which the frame's last bit ends.
    Cycle end() const { return now + bit_cycles * static_cast<Cycle>(bits); }
};

class Board;

// A part on the board. It declares what it is wired to (the ports whose pin
// changes it sees, the SPI channel it sits on) and is plugged in with
// board.plug(model); until then it has no board.
class Model {
public:
    virtual ~Model();

    // Ports whose pin changes the model sees (port_bit() of each).
    virtual uint8_t watched_ports() const { return 0; }
    // SPI channel the model sits on as the slave: 1, 2, or 0 for none.
    virtual int spi_channel() const { return 0; }

    // Levels on the pins of `port` changed from `before` to `after`.
    virtual void pins_changed(Port port, uint32_t before, uint32_t after) {
        (void)port;
        (void)before;
        (void)after;
    }
    // The master sends `mosi`; the model answers a byte.
    virtual uint8_t exchange(uint8_t mosi, const SpiLink& link) {
        (void)mosi;
        (void)link;
        return 0xFF;
    }
    // Board cycle of this model's next change of its own (kNever: none).
    virtual Cycle next_event() const { return kNever; }
    // Board time has reached `now` >= next_event().
    virtual void advance(Cycle now) { (void)now; }

    bool plugged() const { return board_ != nullptr; }

protected:
    // The board the model is plugged into (only while plugged).
    Board& board() const { return *board_; }
    // Called once plugged: read the pins, drive the outputs.
    virtual void on_plugged() {}

private:
    friend class Board;
    Board* board_ = nullptr;
};

}  // namespace sim
