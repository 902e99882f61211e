#pragma once
// Command line of tessivo-sim.
#include <optional>
#include <string>
#include <vector>

namespace tessivo_sim {

struct Options {
    std::string card;        // image file; empty: the built-in demo card
    std::string card_type;   // mmc, sdv1, sdsc, sdhc, sdxc, none; empty: chosen by size
    long passes = 1;         // 0: no limit
    double max_seconds = 600.0;
    std::string panel_png = "tessivo-panel.png";  // "" (from --no-panel-png): none
    std::string panel_raw, sdi_dump, audio, report_json;
    bool quiet = false;
    bool strict = false;  // exit 1 unless the picture and the music came from the card
    std::string image;       // ELF image for the chip to run on the core; empty: the compiled firmware
    std::string profile;     // flat profile of cycles by function (image only)
    std::string trace;       // instruction trace (image only)
    double trace_from = 0, trace_to = -1;  // board-time window of the trace, seconds (-1: to the end)
};

// Parses argv. On --help or --version prints it and sets `exit_code` to 0;
// on an error prints one line naming the problem and sets it to 2. Returns
// nothing in these cases.
std::optional<Options> parse_options(int argc, char** argv, int& exit_code);

}  // namespace tessivo_sim
