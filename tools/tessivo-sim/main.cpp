// tessivo-sim: runs the firmware on the simulated board.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/pic32/sim/vectors.h"
#include "sim/board.h"

int firmware_main();

int main(int argc, char** argv) {
    double max_seconds = 10.0;
    std::string report;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--max-seconds") && i + 1 < argc) max_seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--report-json") && i + 1 < argc) report = argv[++i];
    }
    sim::Board board;
    sim::install_firmware_vectors(board);
    board.stop_at(static_cast<sim::Cycle>(max_seconds * sim::kSysClockHz));
    board.run([] { firmware_main(); });
    std::printf("board time %.3f s, %zu violations, %llu interrupts\n", board.seconds(), board.violations().size(),
                static_cast<unsigned long long>(board.interrupts_delivered()));
    for (auto& v : board.violations()) std::printf("  %s\n", v.c_str());
    return 0;
}
