#include "sim/image_cpu/configuration_check.h"

#include <cstdio>

namespace sim {
namespace {

constexpr double kCrystalHz = 8e6;        // the board's crystal on the primary oscillator
constexpr double kFirmwareHz = 80e6;      // what the firmware's timing is written for
constexpr uint32_t kPriPll = 3;           // FNOSC: primary oscillator through the PLL
constexpr uint32_t kPosc = 2;             // FNOSC: primary oscillator alone
constexpr uint32_t kPoscEc = 0, kPoscOff = 3;

// Bits each word implements on this part; the rest stay erased.
constexpr uint32_t kImplemented[4] = {0x110FF00Bu, 0x009FF7A7u, 0x00070077u, 0x0000FFFFu};
constexpr uint32_t kReservedDevcfg0 = 1u << 31;  // programmed 0 by the toolchain

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

}  // namespace

unsigned reset_pb_divider(uint32_t devcfg1) { return 1u << ((devcfg1 >> 12) & 3u); }

std::vector<ConfigurationFinding> check_configuration(const uint32_t devcfg[4]) {
    std::vector<ConfigurationFinding> out;
    auto fail = [&](const std::string& t) { out.push_back({true, t}); };
    auto note = [&](const std::string& t) { out.push_back({false, t}); };
    const uint32_t cfg0 = devcfg[0], cfg1 = devcfg[1], cfg2 = devcfg[2];

    // Clock: the primary oscillator with the board's crystal, through the PLL, to 80 MHz.
    static const char* const kSources[8] = {"the internal FRC oscillator", "the FRC oscillator through the PLL",
                                            "the primary oscillator without the PLL", "",
                                            "the secondary oscillator", "the low-power RC oscillator",
                                            "the FRC oscillator divided by 16", "the FRC oscillator divided"};
    const uint32_t fnosc = cfg1 & 7u, poscmod = (cfg1 >> 8) & 3u;
    if (fnosc != kPriPll) {
        fail("DEVCFG1 " + hex(cfg1) + ": FNOSC selects " + kSources[fnosc] +
             ", not the primary oscillator with the PLL: the board's 8 MHz crystal does not give the 80 MHz the "
             "firmware is written for");
    }
    if ((fnosc == kPriPll || fnosc == kPosc) && (poscmod == kPoscEc || poscmod == kPoscOff)) {
        fail("DEVCFG1 " + hex(cfg1) + ": POSCMOD is " + (poscmod == kPoscOff ? "off" : "external clock (EC)") +
             ", but the board has a crystal on the primary oscillator: the chip gets no clock");
    }
    if (fnosc == kPriPll) {
        static const unsigned kIdiv[8] = {1, 2, 3, 4, 5, 6, 10, 12};
        static const unsigned kMul[8] = {15, 16, 17, 18, 19, 20, 21, 24};
        static const unsigned kOdiv[8] = {1, 2, 4, 8, 16, 32, 64, 256};
        const unsigned idiv = kIdiv[cfg2 & 7u], mul = kMul[(cfg2 >> 4) & 7u], odiv = kOdiv[(cfg2 >> 16) & 7u];
        const double sysclk = kCrystalHz / idiv * mul / odiv;
        if (sysclk != kFirmwareHz) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "DEVCFG2 %s: the PLL makes 8 MHz / %u x %u / %u = %.3g MHz, not the 80 MHz the firmware "
                          "is written for",
                          hex(cfg2).c_str(), idiv, mul, odiv, sysclk / 1e6);
            fail(text);
        }
    }

    // Nothing in the firmware services a watchdog.
    if (cfg1 & (1u << 23))
        fail("DEVCFG1 " + hex(cfg1) + ": FWDTEN turns the watchdog on, and the firmware never clears it: the "
             "board would reset over and over");

    // Settings that leave the board running but are rarely meant for it.
    if (!(cfg0 & (1u << 28)))
        note("DEVCFG0 " + hex(cfg0) + ": code protection is on (CP = 0): the flash cannot be read back or "
             "verified, only erased whole");
    if ((cfg0 & 3u) != 3u)
        note("DEVCFG0 " + hex(cfg0) + ": the debugger is enabled (DEBUG); without one attached a breakpoint "
             "stops the chip");
    for (unsigned n = 0; n < 4; ++n) {
        const uint32_t unimplemented = ~kImplemented[n] & ~(n == 0 ? kReservedDevcfg0 : 0u);
        if ((devcfg[n] & unimplemented) != unimplemented)
            note("DEVCFG" + std::to_string(n) + " " + hex(devcfg[n]) +
                 ": bits the part does not implement are programmed 0 (they should stay erased)");
    }
    return out;
}

}  // namespace sim
