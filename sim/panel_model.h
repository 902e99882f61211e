#pragma once
// Model of the SSD1963 display controller with its 800 x 480 RGB565 panel, on
// the board's write-only 16-bit parallel bus: D15..D0 on RB15..RB0, reset on
// RE1, write strobe on RE3, chip select on RE4, command/data select on RE5.
//
// A word is latched on each rising edge of the write strobe while chip select
// is low: a command when RE5 is low, a parameter or pixel when it is high. The
// model follows the controller's registers (PLL, LCD mode, timing, GPIO,
// address mode, pixel interface, display, backlight control), keeps the column
// and page window and the write pointer, and stores pixels written after
// write_memory_start in its frame buffer. What a real controller would not
// take is recorded as a board violation, the bus timing among it: the write
// strobe's low and high times, the write cycle, the set-up of chip select,
// command/data select and data before the strobe edges, and the reset pulse.
//
// Power-on state (and the state after a hardware reset): PLL off, pixel
// interface 24-bit (code 5), address mode 0, display off, window the whole
// panel, frame buffer black.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board.h"

namespace sim {

// The controller's bus timing minimums, in picoseconds, at its top system
// clock (the interface runs on the system clock: until the PLL is locked in,
// every strobe figure is longer by the ratio of that clock to the reference).
struct PanelTiming {
    uint64_t write_cycle = 9'000;     // WR falling edge to the next one
    uint64_t write_low = 4'000;       // WR low
    uint64_t write_high = 4'000;      // WR high between two writes
    uint64_t select_setup = 1'000;    // chip select and command/data select before WR falls
    uint64_t data_setup = 4'000;      // D15..D0 stable before WR rises
    uint64_t reset_low = 5'000'000;   // RESET# low (not scaled)
    uint32_t top_clock_hz = 110'000'000;
    uint32_t reference_hz = 10'000'000;  // the board's crystal: system clock until the PLL is locked in
};

class PanelModel : public Model {
public:
    static constexpr int kWidth = 800;
    static constexpr int kHeight = 480;

    // One decoded command with its parameters (pixels are counted, not kept).
    struct Command {
        uint8_t code = 0;
        std::vector<uint8_t> params;
        uint32_t pixels = 0;
        bool operator==(const Command&) const = default;
    };

    // Controller registers the model follows.
    struct Registers {
        std::array<uint8_t, 3> pll_mn{};
        uint8_t pll = 0;  // set_pll: bit 0 enable, bit 1 lock (use as system clock)
        std::array<uint8_t, 3> lshift_freq{};
        std::array<uint8_t, 7> lcd_mode{};
        std::array<uint8_t, 8> hori_period{};
        std::array<uint8_t, 7> vert_period{};
        uint8_t gpio_value = 0;
        std::array<uint8_t, 2> gpio_conf{};
        uint8_t address_mode = 0;
        uint8_t pixel_interface = 5;
        bool display_on = false;
        uint8_t dbc_conf = 0;
        uint16_t col_start = 0, col_end = kWidth - 1;
        uint16_t page_start = 0, page_end = kHeight - 1;
    };

    // Plugged in with board.plug(panel).
    PanelModel();

    uint8_t watched_ports() const override { return port_bit(Port::B) | port_bit(Port::E); }
    void pins_changed(Port port, uint32_t before, uint32_t after) override;

    // The controller's system clock now: the reference, or the PLL once locked in.
    uint32_t system_clock_hz() const;

    // ---- what the controller received
    const std::vector<Command>& commands() const { return commands_; }
    const Registers& registers() const { return regs_; }
    uint64_t command_count() const { return command_count_; }
    uint64_t pixel_count() const { return pixel_count_; }
    uint64_t hardware_resets() const { return hardware_resets_; }
    // Length of the last reset (RE1) low pulse.
    Cycle last_reset_pulse() const { return reset_pulse_; }
    // Board time of the last pixel stored (0: none yet).
    Cycle last_pixel_at() const { return last_pixel_at_; }

    // ---- the picture
    uint16_t pixel(int x, int y) const { return frame_[static_cast<size_t>(y) * kWidth + x]; }
    const std::vector<uint16_t>& frame() const { return frame_; }
    // Frame buffer as little-endian RGB565, row 0 first. False on an I/O error.
    bool write_raw(const std::string& path) const;
    // Frame buffer as an 8-bit RGB PNG. False on an I/O error.
    bool write_png(const std::string& path) const;

private:
    void on_plugged() override;
    void power_on_state();
    void check_strobe_fell();
    void check_strobe_rose();
    // `what` lasted `took` board cycles; the controller needs at least `min_ps`.
    void check_min(const char* what, Cycle took, uint64_t min_ps);
    uint64_t strobe_figure(uint64_t ps) const;
    void latch_command(uint8_t code);
    void latch_data(uint16_t word);
    void apply_parameter(uint8_t index, uint8_t value);
    void finish_command();
    void store_pixel(uint16_t value);
    void violation(const std::string& text);

    PanelTiming timing_;
    Registers regs_;
    std::vector<uint16_t> frame_;
    std::vector<Command> commands_;
    bool reset_held_ = false;
    bool have_command_ = false;
    uint8_t current_ = 0;
    int expected_params_ = 0;  // -1: the command takes pixels
    uint32_t params_seen_ = 0;
    bool burst_fault_reported_ = false;  // one report per pixel burst, not per pixel
    Cycle pll_enabled_at_ = 0;
    bool soft_reset_pending_ = false;
    Cycle soft_reset_at_ = 0;
    uint16_t x_ = 0, y_ = 0;  // write pointer inside the window
    uint64_t command_count_ = 0;
    uint64_t pixel_count_ = 0;
    uint64_t hardware_resets_ = 0;
    Cycle reset_fell_at_ = kNever, reset_pulse_ = 0;
    Cycle last_pixel_at_ = 0;
    // Bus timing: when each line last changed, kNever: not yet.
    Cycle write_fell_at_ = kNever, write_rose_at_ = kNever, select_fell_at_ = kNever, command_data_at_ = kNever,
          data_at_ = kNever;
};

}  // namespace sim
