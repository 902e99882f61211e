#include "sim/panel_model.h"

#include <png.h>

#include <cstdio>
#include <utility>

namespace sim {
namespace {

constexpr int kResetBit = 1, kStrobeBit = 3, kSelectBit = 4, kDataBit = 5;

// Parameter counts of the commands the model knows; kPixels marks the memory
// writes, whose data words are pixels.
constexpr int kPixels = -1;
struct CommandInfo {
    uint8_t code;
    int params;
    const char* name;
};
constexpr CommandInfo kCommands[] = {
    {0x00, 0, "nop"},
    {0x01, 0, "soft_reset"},
    {0x10, 0, "enter_sleep_mode"},
    {0x11, 0, "exit_sleep_mode"},
    {0x12, 0, "enter_partial_mode"},
    {0x13, 0, "enter_normal_mode"},
    {0x20, 0, "exit_invert_mode"},
    {0x21, 0, "enter_invert_mode"},
    {0x26, 1, "set_gamma_curve"},
    {0x28, 0, "set_display_off"},
    {0x29, 0, "set_display_on"},
    {0x2A, 4, "set_column_address"},
    {0x2B, 4, "set_page_address"},
    {0x2C, kPixels, "write_memory_start"},
    {0x36, 1, "set_address_mode"},
    {0x3C, kPixels, "write_memory_continue"},
    {0xB0, 7, "set_lcd_mode"},
    {0xB4, 8, "set_hori_period"},
    {0xB6, 7, "set_vert_period"},
    {0xB8, 2, "set_gpio_conf"},
    {0xBA, 1, "set_gpio_value"},
    {0xBE, 6, "set_pwm_conf"},
    {0xD0, 1, "set_dbc_conf"},
    {0xE0, 1, "set_pll"},
    {0xE2, 3, "set_pll_mn"},
    {0xE6, 3, "set_lshift_freq"},
    {0xF0, 1, "set_pixel_data_interface"},
};

const CommandInfo* find_command(uint8_t code) {
    for (const CommandInfo& c : kCommands)
        if (c.code == code) return &c;
    return nullptr;
}

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string describe(uint8_t code) {
    const CommandInfo* info = find_command(code);
    return hex(code, 2) + " " + (info ? info->name : "unknown");
}

// The PLL needs this long after it is enabled before it may clock the controller.
constexpr Cycle kPllLockCycles = cycles_from_us(100);
// After soft_reset the controller reloads its defaults and takes no command for 5 ms.
constexpr Cycle kSoftResetCycles = cycles_from_ms(5);
// Pixel interface code of 16-bit RGB565.
constexpr uint8_t kPixel565 = 3;

}  // namespace

PanelModel::PanelModel() : frame_(static_cast<size_t>(kWidth) * kHeight, 0) {}

void PanelModel::on_plugged() { reset_held_ = !board().pin(Port::E, kResetBit); }

uint32_t PanelModel::system_clock_hz() const {
    if (!(regs_.pll & 2u)) return timing_.reference_hz;
    // set_pll_mn: VCO = reference × (M + 1), PLL = VCO / (N + 1).
    const uint64_t vco = uint64_t{timing_.reference_hz} * (regs_.pll_mn[0] + 1u);
    return static_cast<uint32_t>(vco / (regs_.pll_mn[1] + 1u));
}

// A strobe figure at the controller's clock now.
uint64_t PanelModel::strobe_figure(uint64_t ps) const {
    const uint32_t clock = system_clock_hz();
    if (clock >= timing_.top_clock_hz || clock == 0) return ps;
    return (ps * timing_.top_clock_hz + clock - 1) / clock;
}

void PanelModel::check_min(const char* what, Cycle took, uint64_t min_ps) {
    if (picoseconds(took) >= min_ps) return;
    violation(std::string(what) + " for " + describe_picoseconds(picoseconds(took)) + ", below the controller's " +
              describe_picoseconds(min_ps) + " minimum at " + std::to_string(system_clock_hz()) + " Hz");
}

void PanelModel::check_strobe_fell() {
    const Cycle now = board().now();
    if (write_rose_at_ != kNever) check_min("write strobe high", now - write_rose_at_, strobe_figure(timing_.write_high));
    if (write_fell_at_ != kNever) check_min("write cycle", now - write_fell_at_, strobe_figure(timing_.write_cycle));
    if (select_fell_at_ != kNever)
        check_min("chip select set-up", now - select_fell_at_, strobe_figure(timing_.select_setup));
    if (command_data_at_ != kNever)
        check_min("command/data select set-up", now - command_data_at_, strobe_figure(timing_.select_setup));
}

void PanelModel::check_strobe_rose() {
    const Cycle now = board().now();
    if (write_fell_at_ == kNever) return;
    check_min("write strobe low", now - write_fell_at_, strobe_figure(timing_.write_low));
    if (data_at_ != kNever && data_at_ > write_fell_at_)
        check_min("data set-up", now - data_at_, strobe_figure(timing_.data_setup));
    if (command_data_at_ != kNever && command_data_at_ > write_fell_at_)
        violation("command/data select changed while the write strobe was low");
}

void PanelModel::power_on_state() {
    regs_ = Registers{};
    have_command_ = false;
    soft_reset_pending_ = false;
    expected_params_ = 0;
    params_seen_ = 0;
    x_ = y_ = 0;
}

void PanelModel::violation(const std::string& text) { board().violation("panel", text); }

void PanelModel::pins_changed(Port port, uint32_t before, uint32_t after) {
    const Cycle now = board().now();
    if (port == Port::B) {
        data_at_ = now;
        return;
    }
    const auto rose = [&](int bit) { return !((before >> bit) & 1u) && ((after >> bit) & 1u); };
    const auto fell = [&](int bit) { return ((before >> bit) & 1u) && !((after >> bit) & 1u); };
    const bool selected = !((after >> kSelectBit) & 1u);

    if (fell(kResetBit)) {
        reset_held_ = true;
        reset_fell_at_ = now;
        ++hardware_resets_;
        finish_command();
        power_on_state();
    } else if (rose(kResetBit)) {
        reset_held_ = false;
        // A reset held since power-up is not a pulse of the host's.
        if (reset_fell_at_ != kNever) {
            reset_pulse_ = now - reset_fell_at_;
            check_min("reset pulse", reset_pulse_, timing_.reset_low);
        }
    }
    if (fell(kSelectBit)) select_fell_at_ = now;
    if (rose(kSelectBit)) select_fell_at_ = kNever;
    if (fell(kDataBit) || rose(kDataBit)) command_data_at_ = now;

    if (fell(kStrobeBit)) {
        if (selected && !reset_held_) check_strobe_fell();
        write_fell_at_ = now;
    }
    if (!rose(kStrobeBit)) return;
    if (selected && !reset_held_) check_strobe_rose();
    write_rose_at_ = now;
    if (!selected) return;
    const uint16_t word = static_cast<uint16_t>(board().pins(Port::B));
    const bool is_data = (after >> kDataBit) & 1u;
    if (reset_held_) {
        violation(std::string(is_data ? "data " : "command ") + hex(word, 4) + " written while reset is held");
        return;
    }
    if (is_data)
        latch_data(word);
    else
        latch_command(static_cast<uint8_t>(word));
}

void PanelModel::finish_command() {
    if (!have_command_ || expected_params_ == kPixels) return;
    if (params_seen_ < static_cast<uint32_t>(expected_params_))
        violation(describe(current_) + " got " + std::to_string(params_seen_) + " of its " +
                  std::to_string(expected_params_) + " parameters");
}

void PanelModel::latch_command(uint8_t code) {
    finish_command();
    ++command_count_;
    if (soft_reset_pending_ && board().now() - soft_reset_at_ < kSoftResetCycles)
        violation("command " + describe(code) + " within 5 ms of soft_reset");
    soft_reset_pending_ = false;
    const CommandInfo* info = find_command(code);
    if (!info) violation("unknown command " + hex(code, 2));
    have_command_ = true;
    current_ = code;
    expected_params_ = info ? info->params : 0;
    params_seen_ = 0;
    burst_fault_reported_ = false;
    commands_.push_back(Command{code, {}, 0});

    switch (code) {
        case 0x01:  // soft reset: every register but the PLL set-up back to its default
        {
            Registers kept = regs_;
            regs_ = Registers{};
            regs_.pll_mn = kept.pll_mn;
            regs_.pll = kept.pll;
            soft_reset_pending_ = true;
            soft_reset_at_ = board().now();
            break;
        }
        case 0x28: regs_.display_on = false; break;
        case 0x29: regs_.display_on = true; break;
        case 0x2C:
        case 0x3C: {
            const bool exchange = regs_.address_mode & 0x20;
            const int columns = exchange ? kHeight : kWidth, pages = exchange ? kWidth : kHeight;
            if (regs_.col_start > regs_.col_end || regs_.col_end >= columns || regs_.page_start > regs_.page_end ||
                regs_.page_end >= pages)
                violation("memory write into window columns " + std::to_string(regs_.col_start) + ".." +
                          std::to_string(regs_.col_end) + ", pages " + std::to_string(regs_.page_start) + ".." +
                          std::to_string(regs_.page_end) + ", which is not inside the panel");
            if (code == 0x2C) {
                x_ = regs_.col_start;
                y_ = regs_.page_start;
            }
            break;
        }
        default: break;
    }
}

void PanelModel::latch_data(uint16_t word) {
    if (!have_command_) {
        violation("data " + hex(word, 4) + " with no command");
        return;
    }
    if (expected_params_ == kPixels) {
        store_pixel(word);
        return;
    }
    if (params_seen_ >= static_cast<uint32_t>(expected_params_)) {
        if (!burst_fault_reported_)
            violation("data " + hex(word, 4) + " beyond the " + std::to_string(expected_params_) +
                      " parameter(s) of " + describe(current_) + " (a pixel before write_memory_start?)");
        burst_fault_reported_ = true;
        ++params_seen_;
        return;
    }
    if (word > 0xFF) violation(describe(current_) + " parameter " + hex(word, 4) + " uses D15..D8");
    const uint8_t value = static_cast<uint8_t>(word);
    commands_.back().params.push_back(value);
    apply_parameter(static_cast<uint8_t>(params_seen_), value);
    ++params_seen_;
}

void PanelModel::apply_parameter(uint8_t i, uint8_t v) {
    const auto set_hi = [](uint16_t& r, uint8_t b) { r = static_cast<uint16_t>((r & 0x00FF) | (b << 8)); };
    const auto set_lo = [](uint16_t& r, uint8_t b) { r = static_cast<uint16_t>((r & 0xFF00) | b); };
    switch (current_) {
        case 0x2A: {
            uint16_t& r = i < 2 ? regs_.col_start : regs_.col_end;
            (i % 2 == 0) ? set_hi(r, v) : set_lo(r, v);
            break;
        }
        case 0x2B: {
            uint16_t& r = i < 2 ? regs_.page_start : regs_.page_end;
            (i % 2 == 0) ? set_hi(r, v) : set_lo(r, v);
            break;
        }
        case 0x36: regs_.address_mode = v; break;
        case 0xB0: regs_.lcd_mode[i] = v; break;
        case 0xB4: regs_.hori_period[i] = v; break;
        case 0xB6: regs_.vert_period[i] = v; break;
        case 0xB8: regs_.gpio_conf[i] = v; break;
        case 0xBA: regs_.gpio_value = v; break;
        case 0xD0: regs_.dbc_conf = v; break;
        case 0xE2: regs_.pll_mn[i] = v; break;
        case 0xE6: regs_.lshift_freq[i] = v; break;
        case 0xF0: regs_.pixel_interface = v & 7u; break;
        case 0xE0:
            if ((v & 1u) && !(regs_.pll & 1u)) pll_enabled_at_ = board().now();
            if ((v & 2u) && (!(v & 1u) || !(regs_.pll & 1u) || board().now() - pll_enabled_at_ < kPllLockCycles))
                violation("PLL made the system clock before it had run 100 us to lock");
            regs_.pll = v & 3u;
            break;
        default: break;
    }
}

void PanelModel::store_pixel(uint16_t value) {
    if (regs_.pixel_interface != kPixel565 && !burst_fault_reported_) {
        violation("pixel " + hex(value, 4) + " while the pixel interface is code " +
                  std::to_string(regs_.pixel_interface) + ", not 16-bit RGB565 (code 3)");
        burst_fault_reported_ = true;
    }
    ++pixel_count_;
    ++commands_.back().pixels;
    last_pixel_at_ = board().now();

    int px = x_, py = y_;
    if (regs_.address_mode & 0x20) std::swap(px, py);
    if (regs_.address_mode & 0x40) px = kWidth - 1 - px;
    if (regs_.address_mode & 0x80) py = kHeight - 1 - py;
    if (px >= 0 && px < kWidth && py >= 0 && py < kHeight) frame_[static_cast<size_t>(py) * kWidth + px] = value;

    // Left to right inside the window, then the next row; past the last row the
    // pointer wraps to the window's first row.
    if (x_ < regs_.col_end) {
        ++x_;
        return;
    }
    x_ = regs_.col_start;
    y_ = y_ < regs_.page_end ? static_cast<uint16_t>(y_ + 1) : regs_.page_start;
}

bool PanelModel::write_raw(const std::string& path) const {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<uint8_t> bytes;
    bytes.reserve(frame_.size() * 2);
    for (uint16_t p : frame_) {
        bytes.push_back(static_cast<uint8_t>(p & 0xFF));
        bytes.push_back(static_cast<uint8_t>(p >> 8));
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool PanelModel::write_png(const std::string& path) const {
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    for (size_t i = 0; i < frame_.size(); ++i) {
        const uint16_t p = frame_[i];
        const unsigned r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
        rgb[i * 3 + 0] = static_cast<uint8_t>((r << 3) | (r >> 2));
        rgb[i * 3 + 1] = static_cast<uint8_t>((g << 2) | (g >> 4));
        rgb[i * 3 + 2] = static_cast<uint8_t>((b << 3) | (b >> 2));
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kWidth;
    image.height = kHeight;
    image.format = PNG_FORMAT_RGB;
    const int ok = png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), kWidth * 3, nullptr);
    png_image_free(&image);
    return ok != 0;
}

}  // namespace sim
