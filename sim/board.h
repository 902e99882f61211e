#pragma once
// The simulated board: the PIC32MX340F512H as its firmware sees it (clock,
// ports, SPI1/SPI2, interrupt controller, core timer, oscillator, unlock,
// DMA suspend, cache and bus-matrix registers) and the sockets where models of
// the card, the panel and the decoder are plugged in.
//
// Time is virtual and deterministic: a counter of 80 MHz CPU cycles. Register
// accesses, Nop() and SPI transfers advance it. When the firmware polls
// something that cannot change before the next scheduled event (a register read
// again and again with the same value, or a Nop() spin), the clock jumps
// straight to that event, so simulated seconds cost milliseconds.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

using Cycle = uint64_t;
constexpr Cycle kNever = ~Cycle{0};
constexpr uint32_t kSysClockHz = 80'000'000;

constexpr Cycle cycles_from_ms(uint64_t ms) { return ms * (kSysClockHz / 1000); }
constexpr Cycle cycles_from_us(uint64_t us) { return us * (kSysClockHz / 1'000'000); }

enum class Port : uint8_t { B, C, D, E, F, G };
constexpr int kPortCount = 6;
const char* port_name(Port p);

// How an SPI master is set up at the moment of a byte exchange.
struct SpiLink {
    int channel = 0;       // 1 or 2
    uint32_t sck_hz = 0;   // serial clock
    bool ckp = false;      // clock idles high
    bool cke = false;      // output changes on the active-to-idle edge
    bool smp = false;      // input sampled at the end of the bit time
    int bits = 8;          // frame width
    Cycle now = 0;         // board time at the start of the exchange
    // SPI mode number 0..3 (CPOL, CPHA) the link amounts to.
    int mode() const { return (ckp ? 2 : 0) | (cke ? 0 : 1); }
};

// A device on an SPI bus: gets each byte the master sends and answers one.
class SpiDevice {
public:
    virtual ~SpiDevice() = default;
    virtual uint8_t exchange(uint8_t mosi, const SpiLink& link) = 0;
};

// A model attached to the board: sees pin changes and may have its own events.
class Device {
public:
    virtual ~Device() = default;
    // Levels on the pins of `port` changed from `before` to `after`.
    virtual void pins_changed(Port port, uint32_t before, uint32_t after) {
        (void)port;
        (void)before;
        (void)after;
    }
    // Board cycle of this device's next change of its own (kNever: none).
    virtual Cycle next_event() const { return kNever; }
    // Board time has reached `now` >= next_event().
    virtual void advance(Cycle now) { (void)now; }
};

// Thrown out of a register access when the run is over; the firmware's main
// never returns on its own.
struct RunEnded {};

class Board {
public:
    Board();
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // The board the simulation backend talks to (the one constructed last).
    static Board* current();

    // ---- time
    Cycle now() const { return now_; }
    double seconds() const { return static_cast<double>(now_) / kSysClockHz; }
    uint32_t pb_divider() const;
    uint32_t pb_clock_hz() const { return kSysClockHz / pb_divider(); }
    // Let time pass (from a model or a test, outside the firmware).
    void advance(Cycle cycles);

    // ---- pins
    uint32_t pins(Port p) const;
    bool pin(Port p, int bit) const { return (pins(p) >> bit) & 1u; }
    uint32_t tris(Port p) const { return port_[idx(p)].tris; }
    uint32_t lat(Port p) const { return port_[idx(p)].lat; }
    // A model drives an input pin.
    void drive(Port p, int bit, bool level);

    // ---- models
    void attach(Device& d);
    void detach(Device& d);
    void attach_spi(int channel, SpiDevice* d);
    // A device's next_event() moved; the board looks again.
    void reschedule();

    // ---- protocol violations seen by the board or any model
    void violation(const std::string& source, const std::string& text);
    // Every violation is counted; the texts of the first kViolationLogLimit are kept.
    uint64_t violation_count() const { return violation_count_; }
    const std::vector<std::string>& violations() const { return violations_; }
    static constexpr uint64_t kViolationLogLimit = 1000;

    // ---- running the firmware
    void stop_at(Cycle when);
    void request_stop() { stop_requested_ = true; }
    // Calls `fn` every `period` cycles of board time.
    void every(Cycle period, std::function<void(Board&)> fn);
    // Runs `entry` until the board ends the run. Returns true when it was ended
    // by the board, false if `entry` returned.
    bool run(const std::function<void()>& entry);

    // ---- the CPU side, used by the simulation backend
    uint32_t sfr_read(uint32_t addr);
    void sfr_write(uint32_t addr, uint32_t value);
    void nop();
    uint32_t cp0_read(int reg);
    void cp0_write(int reg, uint32_t value);
    uint32_t di();
    void ei();
    uint32_t cp0_status() const { return status_; }
    uint32_t kseg0_mode() const { return config_k0_; }
    void set_vector(int vector, void (*handler)());

    // Register contents without a bus cycle (tests, reports).
    uint32_t peek(uint32_t addr) const;
    uint64_t interrupts_delivered() const { return interrupts_delivered_; }

    // Cycles one register access costs (the load or store and the few
    // instructions around it).
    static constexpr Cycle kAccessCycles = 2;

private:
    struct PortState {
        uint32_t tris = 0xFFFF;
        uint32_t lat = 0;
        uint32_t input = 0;
    };
    struct SpiState {
        uint32_t con = 0, stat = 0, brg = 0;
        uint8_t rx = 0;
        bool rbf = false;
        Cycle done_at = 0;  // completion of the transfer in flight
        bool busy = false;
        SpiDevice* device = nullptr;
    };
    struct Watcher {
        Cycle period, next;
        std::function<void(Board&)> fn;
    };

    static int idx(Port p) { return static_cast<int>(p); }
    void tick(Cycle cycles);  // advance time by a CPU action
    void process_due();
    void recompute_next_due();
    void check_interrupts();
    void skip_to_next_event();
    void write_port_reg(int port, int reg, uint32_t value);
    void notify_pins(int port, uint32_t before);
    uint32_t spi_read(SpiState& s, int reg);
    void spi_write(SpiState& s, int channel, int reg, uint32_t value);
    void spi_settle(SpiState& s);
    uint32_t core_timer_count() const;
    void schedule_core_timer();
    uint32_t& reg_ref(uint32_t base);
    uint32_t load(uint32_t base);
    void store(uint32_t base, uint32_t value);

    Cycle now_ = 0;
    Cycle next_due_ = kNever;
    Cycle stop_at_ = kNever;
    bool stop_requested_ = false;
    bool processing_ = false;

    PortState port_[kPortCount];
    SpiState spi_[2];
    std::vector<Device*> devices_;
    std::vector<Watcher> watchers_;
    std::vector<std::string> violations_;
    uint64_t violation_count_ = 0;

    // Interrupt flag, enable and priority registers of the core-timer vector.
    uint32_t ifs0_ = 0, iec0_ = 0, ipc0_ = 0;
    // Other plain registers (AD1PCFG, INTCON, DMACON, CHECON, BMXCON,
    // DDPCON, OSCCON) by base address.
    std::vector<std::pair<uint32_t, uint32_t>> regs_;

    // System unlock: 0 locked, 1 first key seen by the last write, 2 unlocked.
    int unlock_state_ = 0;

    // CPU
    uint32_t status_ = 0;     // CP0 Status: IE (bit 0) and IPL (bits 15:10)
    uint32_t config_k0_ = 2;  // Config.K0
    uint32_t count_origin_ = 0;
    uint32_t compare_ = 0xFFFFFFFFu;
    Cycle ct_match_at_ = kNever;
    void (*vectors_[64])() = {};
    bool missing_vector_reported_ = false;
    uint64_t interrupts_delivered_ = 0;

    // Polling detection.
    uint32_t last_read_addr_ = 0, last_read_value_ = 0;
    int same_reads_ = 0;
    int nop_streak_ = 0;
};

}  // namespace sim
