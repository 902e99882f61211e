#pragma once
// The configuration words an image programs, judged against this board: an
// 8 MHz crystal on the primary oscillator, the firmware written for 80 MHz,
// no debugger, nobody servicing a watchdog.
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct ConfigurationFinding {
    bool board_would_fail;  // the board would not run as the firmware expects
    std::string text;       // one line naming the word, the field and what follows
};

// `devcfg[n]` is DEVCFGn as programmed (erased words are 0xFFFFFFFF).
std::vector<ConfigurationFinding> check_configuration(const uint32_t devcfg[4]);

// The peripheral-bus divider the chip starts with (DEVCFG1.FPBDIV): 1, 2, 4 or 8.
unsigned reset_pb_divider(uint32_t devcfg1);

}  // namespace sim
