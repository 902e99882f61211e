// Board time of the panel set-up, of a full-frame picture write and of one
// decoder reset, each next to the bound its fixed waits and bus timing set.
#include <cstdio>

#include "app/decoder.h"
#include "app/panel.h"
#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/decoder_model.h"
#include "sim/panel_model.h"
#include "tests/support/firmware_harness.h"

namespace {

double ms(sim::Cycle c) { return static_cast<double>(c) / (sim::kSysClockHz / 1000.0); }

void report(const char* what, sim::Cycle took, double bound_ms, const char* bound) {
    std::printf("%-34s %10.3f ms board time; bound %9.3f ms (%s); ratio %.3f\n", what, ms(took), bound_ms, bound,
                ms(took) / bound_ms);
}

}  // namespace

int main() {
    sim::Board board;
    sim::CompiledCpu cpu(board);
    sim::PanelModel panel;
    sim::DecoderModel decoder;
    board.plug(panel);
    board.plug(decoder);
    SYSTEMConfigPerformance(80'000'000);
    TRISB = 0;
    PORTB = 0;
    TRISD = 0x0300;
    PORTD = 0x0001;
    TRISE = 0x0080;
    PORTE = 0xFFFFFF7F;
    TRISG = 0x0080;
    PORTG = 0;
    PORTGSET = 0x020C;
    test_support::start_tick(cpu);

    sim::Cycle t = board.now();
    Init_TFT();
    // Fixed waits: 5 ms, the reset held up to 2 ms, 5 + 1 ms, the pauses after
    // steps (1 + 5 + 5 + 5 ms) and up to 1 ms inside each of the 14 commands.
    report("Init_TFT", board.now() - t, 13 + 16 + 14, "its delays, 1 ms per command");

    t = board.now();
    Address_set(0, 0, 799, 479);
    for (int k = 0; k < 384'000; ++k) LCD_WR_Data(static_cast<short>(k));
    // Each pixel holds the strobe low for 39 idle cycles at 80 MHz.
    report("full-frame picture write", board.now() - t, 384'000 * 39 / 80'000.0, "39 idle cycles per pixel");

    t = board.now();
    Init_VS();
    // The decoder's start-up after reset (22000 crystal cycles at 12.288 MHz),
    // eight SCI bytes at 80 MHz / 1602 and the SCI_CLOCKF execution (1200 crystal cycles).
    report("Init_VS (one decoder reset)", board.now() - t, 22'000 / 12'288.0 + 8 * 8 * 1602 / 80'000.0 + 1'200 / 12'288.0,
           "start-up, 8 slow SCI bytes, clock switch");

    std::printf("reset pulses: panel RE1 low %llu cycles (%.0f ns), decoder XRESET low %llu cycles (%.0f ns)\n",
                static_cast<unsigned long long>(panel.last_reset_pulse()), panel.last_reset_pulse() * 12.5,
                static_cast<unsigned long long>(decoder.last_reset_pulse()), decoder.last_reset_pulse() * 12.5);
    std::printf("violations: %zu\n", board.violations().size());
    for (const auto& v : board.violations()) std::printf("  %s\n", v.c_str());
    return board.violations().empty() ? 0 : 1;
}
