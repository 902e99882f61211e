// The panel driver on the simulated board, checked by the SSD1963 model.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/panel.h"
#include "app/tick.h"
#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/panel_model.h"
#include "tests/support/firmware_harness.h"

namespace {

using sim::PanelModel;
using Command = PanelModel::Command;

constexpr uint32_t kReset = 1u << 1, kStrobe = 1u << 3, kSelect = 1u << 4, kDataSelect = 1u << 5;

// What the set-up must give the 800 x 480 TFT (values as the SSD1963 takes them).
constexpr uint8_t kSetPllMn = 0xE2, kSetPll = 0xE0, kSoftReset = 0x01, kSetGpioValue = 0xBA, kSetGpioConf = 0xB8,
                  kSetPixelInterface = 0xF0, kSetDisplayOn = 0x29;
constexpr int kColumns = 800, kRows = 480;
constexpr uint8_t kRgb565 = 0x03;      // 16-bit pixel bus, 5-6-5
constexpr uint8_t kTftMode = 0x00;
constexpr uint8_t kPanelData24 = 0x20;  // the panel takes 24-bit colour
// The pixel clock is three times the controller's reference clock: the PLL
// (x 36, / 3) gives twelve times it, the shift clock a quarter of that.
constexpr double kPixelClockPerReference = 3.0;

unsigned be16(uint8_t hi, uint8_t lo) { return (unsigned{hi} << 8) | lo; }

// Position of the first command `code` in the list, or the list's size.
size_t first_of(const std::vector<Command>& list, uint8_t code) {
    size_t i = 0;
    while (i < list.size() && list[i].code != code) i++;
    return i;
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        board.plug(panel);
        // Ports as the board's start-up leaves them: bus low, control lines high.
        TRISB = 0;
        PORTB = 0;
        TRISE = 0x0080;
        PORTE = 0xFFFFFF7F;
        test_support::start_tick(cpu);
    }

    std::vector<Command> last_commands(size_t n) const {
        const auto& all = panel.commands();
        return {all.end() - static_cast<std::ptrdiff_t>(std::min(n, all.size())), all.end()};
    }

    sim::Board board;

    sim::CompiledCpu cpu{board};
    PanelModel panel;
};

TEST_F(PanelTest, InitSendsTheControllerSetUpWithoutViolation) {
    Init_TFT();
    EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    const PanelModel::Registers& r = panel.registers();

    // The panel: 800 x 480 TFT taking 24-bit colour; pixels come as RGB565.
    EXPECT_EQ(be16(r.lcd_mode[2], r.lcd_mode[3]) + 1, unsigned{kColumns});
    EXPECT_EQ(be16(r.lcd_mode[4], r.lcd_mode[5]) + 1, unsigned{kRows});
    EXPECT_EQ(r.lcd_mode[1], kTftMode);
    EXPECT_TRUE(r.lcd_mode[0] & kPanelData24);
    EXPECT_EQ(r.pixel_interface, kRgb565);

    // The pixel clock: VCO = reference x (M + 1), PLL = VCO / (N + 1), shift
    // clock = PLL x (F + 1) / 2^20, with the PLL on and locked in.
    const double pll_per_reference = (r.pll_mn[0] + 1.0) / (r.pll_mn[1] + 1.0);
    const double fraction = ((unsigned{r.lshift_freq[0]} << 16 | be16(r.lshift_freq[1], r.lshift_freq[2])) + 1.0) / 1048576.0;
    EXPECT_DOUBLE_EQ(pll_per_reference * fraction, kPixelClockPerReference);
    EXPECT_EQ(r.pll, 0x03);

    // Lines and frames leave room for the porches and sync pulses beyond the
    // visible area: 929 clocks a line, 526 lines a frame.
    const unsigned line = be16(r.hori_period[0], r.hori_period[1]) + 1;
    const unsigned h_start = be16(r.hori_period[2], r.hori_period[3]);
    const unsigned h_sync = r.hori_period[4] + 1u;
    const unsigned frame = be16(r.vert_period[0], r.vert_period[1]) + 1;
    const unsigned v_start = be16(r.vert_period[2], r.vert_period[3]);
    const unsigned v_sync = r.vert_period[4] + 1u;
    EXPECT_EQ(line, 929u);
    EXPECT_EQ(frame, 526u);
    EXPECT_GE(line, h_start + kColumns) << "the visible columns fit after the horizontal back porch";
    EXPECT_GE(frame, v_start + kRows) << "the visible rows fit after the vertical back porch";
    EXPECT_LT(h_sync, line - kColumns);
    EXPECT_LT(v_sync, frame - kRows);

    // The order the controller needs: PLL started, then locked in, then a
    // soft reset before the rest; GPIO levels before their directions;
    // the display switched on once the pixel format is set.
    const std::vector<Command>& list = panel.commands();
    ASSERT_GE(list.size(), 3u);
    EXPECT_EQ(list[0].code, kSetPllMn);
    EXPECT_EQ(list[1], (Command{kSetPll, {0x01}}));
    EXPECT_EQ(list[2], (Command{kSetPll, {0x03}}));
    EXPECT_EQ(first_of(list, kSoftReset), 3u);
    EXPECT_LT(first_of(list, kSetGpioValue), first_of(list, kSetGpioConf));
    EXPECT_LT(first_of(list, kSetPixelInterface), first_of(list, kSetDisplayOn));
    EXPECT_LT(first_of(list, kSetDisplayOn), list.size());
    EXPECT_EQ(panel.hardware_resets(), 1u);
    EXPECT_EQ(panel.registers().pixel_interface, 3);
    EXPECT_TRUE(panel.registers().display_on);
    EXPECT_FALSE(board.pin(sim::Port::E, 4)) << "chip select stays low";
}

TEST_F(PanelTest, AddressSetSendsTheWindowHighByteFirst) {
    struct Case {
        unsigned x1, y1, x2, y2;
        std::vector<uint8_t> columns, pages;
    };
    const Case cases[] = {
        {0, 0, 799, 479, {0x00, 0x00, 0x03, 0x1F}, {0x00, 0x00, 0x01, 0xDF}},
        {99, 99, 199, 199, {0x00, 0x63, 0x00, 0xC7}, {0x00, 0x63, 0x00, 0xC7}},
        {256, 1, 511, 258, {0x01, 0x00, 0x01, 0xFF}, {0x00, 0x01, 0x01, 0x02}},
    };
    Init_TFT();
    for (const Case& c : cases) {
        Address_set(c.x1, c.y1, c.x2, c.y2);
        const std::vector<Command> expected = {{0x2A, c.columns}, {0x2B, c.pages}, {0x2C, {}}};
        EXPECT_EQ(last_commands(3), expected) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
        EXPECT_EQ(panel.registers().col_start, c.x1);
        EXPECT_EQ(panel.registers().page_end, c.y2);
    }
    EXPECT_TRUE(board.violations().empty());
}

// A full picture then the green square: every pixel lands where the scan
// order puts it, the square covers columns and rows 99..199 inclusive.
TEST_F(PanelTest, PictureAndSquareLandInScanOrder) {
    const auto picture = [](uint32_t k) { return static_cast<uint16_t>((k * 2654435761u) >> 16); };
    Init_TFT();
    Address_set(0, 0, 799, 479);
    for (uint32_t k = 0; k < 800u * 480u; ++k) LCD_WR_Data(static_cast<short>(picture(k)));
    Address_set(99, 99, 199, 199);
    for (int k = 0; k < 101 * 101; ++k) LCD_WR_Data(0x07E0);

    EXPECT_TRUE(board.violations().empty());
    EXPECT_EQ(panel.pixel_count(), 384'000u + 10'201u);
    int wrong = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 800; ++x) {
            const bool square = x >= 99 && x <= 199 && y >= 99 && y <= 199;
            const uint16_t want = square ? 0x07E0 : picture(static_cast<uint32_t>(y * 800 + x));
            if (panel.pixel(x, y) != want && ++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << panel.pixel(x, y) << ", want " << want;
        }
    EXPECT_EQ(wrong, 0);
}

// After a data write the reset and data-select lines are high; after a command
// write data-select stays low until the next data write. The strobe always ends high.
TEST_F(PanelTest, ControlLinesAfterEachWrite) {
    struct Step {
        const char* what;
        void (*write)();
        bool reset, data_select;
    };
    const Step steps[] = {
        {"command", [] { LCD_WR_REG(0x2C); }, true, false},
        {"time passing", [] { sim::CompiledCpu::bound()->advance(sim::cycles_from_ms(3)); }, true, false},
        {"data", [] { LCD_WR_Data(0x1234); }, true, true},
        {"reset line pulled low", [] { PORTECLR = kReset; }, false, true},
        {"data after it", [] { LCD_WR_Data(-1); }, true, true},
        {"command again", [] { LCD_WR_REG(0x00); }, true, false},
    };
    PORTECLR = kSelect;
    for (const Step& s : steps) {
        s.write();
        EXPECT_EQ(board.pin(sim::Port::E, 1), s.reset) << s.what;
        EXPECT_EQ(board.pin(sim::Port::E, 5), s.data_select) << s.what;
        EXPECT_TRUE(board.pin(sim::Port::E, 3)) << s.what;
    }
    EXPECT_EQ(board.pins(sim::Port::B), 0u);
}

// Driver faults the model must catch: each records a violation naming it.
TEST_F(PanelTest, ModelCatchesDriverFaults) {
    struct Fault {
        const char* what;
        void (*act)();
        const char* reported;
    };
    const Fault faults[] = {
        {"pixel before write_memory_start", [] { LCD_WR_Data(0x1234); }, "before write_memory_start"},
        {"parameters missing", [] { LCD_WR_REG(0xB0); LCD_WR_Data(0x27); LCD_WR_REG(0x29); }, "got 1 of its 7"},
        {"command while reset is held", [] { PORTECLR = kReset; LCD_WR_REG(0x29); }, "while reset is held"},
        {"data with no command", [] { PORTECLR = kReset; delayms(2); PORTESET = kReset; LCD_WR_Data(1); },
         "with no command"},
        {"pixels in 24-bit mode",
         [] { LCD_WR_REG(0xF0); LCD_WR_Data(5); Address_set(0, 0, 1, 1); LCD_WR_Data(1); LCD_WR_Data(2); },
         "not 16-bit RGB565"},
        {"window off the panel", [] { Address_set(0, 0, 800, 479); }, "not inside the panel"},
        {"unknown command", [] { LCD_WR_REG(0x99); }, "unknown command 0x99"},
        {"no pause after soft_reset", [] { LCD_WR_REG(0x01); LCD_WR_REG(0x29); }, "within 5 ms of soft_reset"},
    };
    Init_TFT();
    ASSERT_TRUE(board.violations().empty());
    size_t seen = 0;
    for (const Fault& f : faults) {
        f.act();
        ASSERT_EQ(board.violations().size(), seen + 1) << f.what;
        EXPECT_NE(board.violations().back().find(f.reported), std::string::npos)
            << f.what << ": " << board.violations().back();
        seen = board.violations().size();
        Init_TFT();  // a clean controller for the next fault
        ASSERT_EQ(board.violations().size(), seen) << "after " << f.what;
    }
}

// The frame buffer files: raw little-endian RGB565 and PNG, row 0 first.
TEST_F(PanelTest, WritesFrameAsRawAndPng) {
    Init_TFT();
    Address_set(1, 0, 1, 0);
    LCD_WR_Data(static_cast<short>(0xF81F));  // magenta at (1, 0)
    Address_set(799, 479, 799, 479);
    LCD_WR_Data(0x07E0);  // green in the last corner

    const std::string raw = testing::TempDir() + "avio_panel.raw", png = testing::TempDir() + "avio_panel.png";
    ASSERT_TRUE(panel.write_raw(raw));
    ASSERT_TRUE(panel.write_png(png));

    std::FILE* f = std::fopen(raw.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> bytes(800 * 480 * 2 + 1);
    const size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    ASSERT_EQ(n, 800u * 480u * 2u);
    EXPECT_EQ(bytes[2], 0x1F);
    EXPECT_EQ(bytes[3], 0xF8);
    EXPECT_EQ(bytes[n - 2], 0xE0);
    EXPECT_EQ(bytes[n - 1], 0x07);

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    EXPECT_EQ(image.width, 800u);
    EXPECT_EQ(image.height, 480u);
    EXPECT_EQ((std::vector<uint8_t>{rgb[3], rgb[4], rgb[5]}), (std::vector<uint8_t>{255, 0, 255}));
    EXPECT_EQ((std::vector<uint8_t>{rgb[rgb.size() - 3], rgb[rgb.size() - 2], rgb[rgb.size() - 1]}),
              (std::vector<uint8_t>{0, 255, 0}));
    std::remove(raw.c_str());
    std::remove(png.c_str());
}

}  // namespace

// Bus timing the controller needs, driven straight on the board's pins at
// chosen board cycles (12.5 ns each). Until the PLL is locked in the
// controller runs on its 10 MHz reference and every strobe figure is 11 times
// its top-clock value: WR low and high 44 ns, a write cycle 99 ns.
TEST(PanelTiming, StrobesShorterThanTheControllerTakesAreViolations) {
    constexpr uint32_t kPortE = 0x1F886110u, kPortB = 0x1F886050u, kClr = 4, kSet = 8;
    struct Pins {
        sim::Board& board;
        void wait(sim::Cycle c) { board.advance_to(board.now() + c); }
        void e_low(uint32_t m) { board.store(kPortE + kClr, 4, m); }
        void e_high(uint32_t m) { board.store(kPortE + kSet, 4, m); }
        void data(uint32_t v) { board.store(kPortB, 4, v); }
        // A command write (nop) with the strobe low for `low` cycles.
        void command(sim::Cycle setup, sim::Cycle low) {
            e_low(kDataSelect);
            data(0);
            wait(setup);
            e_low(kStrobe);
            wait(low);
            e_high(kStrobe);
        }
    };
    const struct {
        const char* what;
        void (*act)(Pins&);
        const char* reported;  // nullptr: no violation
    } cases[] = {
        {"strobe held 4 cycles, high 8", [](Pins& p) { p.command(4, 4); p.wait(8); p.command(4, 4); }, nullptr},
        {"one-cycle strobe", [](Pins& p) { p.command(4, 1); }, "write strobe low for 12.5 ns"},
        {"strobe high 3 cycles", [](Pins& p) { p.command(4, 4); p.wait(3); p.command(0, 4); }, "write strobe high"},
        {"two strobes in 7 cycles", [](Pins& p) { p.command(4, 4); p.wait(3); p.command(0, 4); }, "write cycle"},
        {"chip select with the strobe",
         [](Pins& p) { p.e_high(kSelect); p.wait(10); p.board.store(kPortE + kClr, 4, kSelect | kStrobe); },
         "chip select set-up for 0.0 ns"},
        {"data with the rising strobe",
         [](Pins& p) { p.e_low(kStrobe); p.wait(8); p.data(0x29); p.e_high(kStrobe); }, "data set-up for 0.0 ns"},
        {"command/data select while the strobe is low",
         [](Pins& p) { p.e_low(kStrobe); p.wait(4); p.e_low(kDataSelect); p.wait(4); p.e_high(kStrobe); },
         "changed while the write strobe was low"},
        {"reset pulse of 1 us", [](Pins& p) { p.e_low(kReset); p.wait(80); p.e_high(kReset); }, "reset pulse for 1.00 us"},
        {"reset pulse of 5 us", [](Pins& p) { p.e_low(kReset); p.wait(400); p.e_high(kReset); }, nullptr},
    };
    for (const auto& c : cases) {
        sim::Board board;
        PanelModel panel;
        board.plug(panel);
        board.store(0x1F886040u, 4, 0);       // TRISB: the bus drives the panel
        board.store(0x1F886100u, 4, 0x0080);  // TRISE
        board.store(kPortE, 4, 0x7F);         // control lines inactive
        Pins pins{board};
        pins.wait(800);
        pins.e_low(kSelect);
        pins.wait(800);
        c.act(pins);
        test_support::expect_violation(board, c.what, c.reported);
    }
}

// Once the PLL runs the controller at 120 MHz the same one-cycle strobe is fine.
TEST_F(PanelTest, OneCycleStrobeIsFineOnceThePllIsLockedIn) {
    Init_TFT();
    ASSERT_EQ(panel.system_clock_hz(), 120'000'000u);
    board.store(0x1F886114u, 4, kDataSelect);  // PORTECLR
    board.store(0x1F886050u, 4, 0x00);         // PORTB: nop
    board.advance_to(board.now() + 1);
    board.store(0x1F886114u, 4, kStrobe);
    board.advance_to(board.now() + 1);
    board.store(0x1F886118u, 4, kStrobe);  // PORTESET
    EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    EXPECT_EQ(panel.commands().back().code, 0x00);
}
