#pragma once
// The simulated board: the PIC32MX340F512H's peripherals as one bus map (ports,
// SPI1/SPI2, interrupt controller, oscillator and unlock, bus matrix, DMA and
// prefetch-cache control, analogue pin configuration) and the sockets where
// models of the card, the panel and the decoder are plugged in.
//
// The board holds no CPU. Whatever executes the firmware — the firmware
// compiled for the host (sim::CompiledCpu) or an instruction-level core —
// drives it through the same calls: load and store by physical address (no
// time passes in them), advance_to() a later board cycle, next_event(), the
// interrupt controller's current request, and the core-timer inputs.
//
// Time is virtual and deterministic: a counter of 80 MHz CPU cycles that only
// the driving CPU moves.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/bus_map.h"
#include "sim/interrupt_controller.h"
#include "sim/io_ports.h"
#include "sim/model.h"
#include "sim/plain_registers.h"
#include "sim/spi_master.h"
#include "sim/system_control.h"

namespace sim {

struct BoardOptions {
    CoreTimerFlag core_timer_flag = CoreTimerFlag::Edge;
    // Peripheral-bus divider at reset (DEVCFG1.FPBDIV of the image): 1, 2, 4 or 8.
    uint32_t reset_pb_divider = 2;
};

class Board {
public:
    explicit Board(const BoardOptions& options = {});
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // ---- the bus, for any CPU. `address` is physical; `bytes` is 1, 2 or 4
    // and the access naturally aligned. An access no peripheral claims is
    // recorded as a violation and answered false (a bus error; a load gives 0).
    bool load(uint32_t address, unsigned bytes, uint32_t& value, bool& side_effect) {
        value = 0;
        const RegisterEntry* r = decode(address, bytes);
        if (!r) return bus_fault("load", address, bytes);
        if (address & 0xCu) return true;  // the alias words read as 0
        const uint32_t word = r->peripheral->read(r->reg, side_effect);
        value = bytes == 4 ? word : (word >> ((address & 3u) * 8)) & ((1u << (8 * bytes)) - 1u);
        return true;
    }
    bool store(uint32_t address, unsigned bytes, uint32_t value) {
        system_.store_seen(address);
        const RegisterEntry* r = decode(address, bytes);
        if (!r) return bus_fault("store", address, bytes);
        const unsigned shift = (address & 3u) * 8;
        const uint32_t lanes = bytes == 4 ? ~0u : ((1u << (8 * bytes)) - 1u) << shift;
        r->peripheral->write(r->reg, static_cast<AliasOp>((address >> 2) & 3u), value << shift, lanes);
        return true;
    }
    // A register word without a bus cycle (tests, reports); KSEG1 addresses
    // are taken too. 0 for an address no peripheral claims.
    uint32_t peek(uint32_t address) const;
    const BusMap& bus() const { return bus_; }

    // ---- time
    Cycle now() const { return now_; }
    double seconds() const { return static_cast<double>(now_) / kSysClockHz; }
    // Board cycle of the next scheduled event (models, SPI transfers,
    // watchers, the end of the run); kNever when nothing is scheduled.
    Cycle next_event() const { return next_due_; }
    // The CPU has reached `when` (>= now()): every event due by then runs.
    void advance_to(Cycle when) {
        now_ = when;
        if (when >= next_due_) process_due();
    }
    // The run is over (stop time reached or a stop requested); the CPU stops.
    bool finished() const { return finished_; }
    void stop_at(Cycle when);
    void request_stop();
    // Calls `fn` every `period` cycles of board time.
    void every(Cycle period, std::function<void(Board&)> fn);

    // ---- interrupts: the controller's request to the CPU, and the core
    // timer's request from the CPU's Count/Compare.
    const InterruptRequest& interrupt_request() const { return interrupts_.request(); }
    void core_timer_match() { interrupts_.core_timer_match(); }
    void core_timer_request_dropped() { interrupts_.core_timer_request_dropped(); }

    // ---- clocks
    uint32_t pb_divider() const { return system_.pb_divider(); }

    // ---- pins
    uint32_t pins(Port p) const { return ports_.pins(p); }
    bool pin(Port p, int bit) const { return (pins(p) >> bit) & 1u; }
    uint32_t tris(Port p) const { return ports_.tris(p); }
    uint32_t lat(Port p) const { return ports_.lat(p); }
    // A model drives an input pin.
    void drive(Port p, int bit, bool level) { ports_.drive(p, bit, level); }

    // ---- models: plugged in one way; a model declares its ports and SPI channel.
    // std::logic_error when its SPI channel already has a device.
    void plug(Model& model);
    void unplug(Model& model);
    // A model's next_event() moved; the board looks again.
    void reschedule();

    // ---- violations seen by the board or any model
    void violation(const std::string& source, const std::string& text);
    // Every violation is counted; the texts of the first kViolationLogLimit are kept.
    uint64_t violation_count() const { return violation_count_; }
    const std::vector<std::string>& violations() const { return violations_; }
    static constexpr uint64_t kViolationLogLimit = 1000;

private:
    friend class IoPorts;
    friend class SpiMaster;

    struct Watcher {
        Cycle period, next;
        std::function<void(Board&)> fn;
    };

    // The register an access of `bytes` at `address` reaches; null when none
    // does (unclaimed, misaligned, or an alias word of a register without aliases).
    const RegisterEntry* decode(uint32_t address, unsigned bytes) const {
        const RegisterEntry* r = bus_.find(address);
        if (!r || !(bytes == 1 || bytes == 2 || bytes == 4) || address % bytes != 0) return nullptr;
        if ((address & 0xCu) && !r->aliases) return nullptr;
        return r;
    }
    void process_due();
    void pins_changed(Port port, uint32_t before, uint32_t after);
    Model* spi_device(int channel) const { return spi_devices_[channel == 1 ? 0 : 1]; }
    bool bus_fault(const char* access, uint32_t address, unsigned bytes);

    Cycle now_ = 0;
    Cycle next_due_ = kNever;
    Cycle stop_at_ = kNever;
    bool stop_requested_ = false;
    bool finished_ = false;
    bool processing_ = false;

    BusMap bus_;
    IoPorts ports_;
    SpiMaster spi1_, spi2_;
    InterruptController interrupts_;
    SystemControl system_;
    PlainRegisters adc_, bus_matrix_, dma_, cache_;

    std::vector<Model*> models_;
    std::vector<Model*> port_watchers_[kPortCount];
    Model* spi_devices_[2] = {};
    std::vector<Watcher> watchers_;
    std::vector<std::string> violations_;
    uint64_t violation_count_ = 0;
};

}  // namespace sim
