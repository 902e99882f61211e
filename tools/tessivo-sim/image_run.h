#pragma once
// tessivo-sim with --image: the chip's image on the M4K core instead of the
// firmware compiled for the host, with its profile and trace outputs.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/cpu/elf_image.h"
#include "tools/common/temp_file.h"
#include "tools/tessivo-sim/options.h"

namespace tessivo_sim {

// What the CPU that ran the firmware tells about the run.
struct CpuFigures {
    std::string cpu = "compiled";             // "m4k" or "compiled"
    std::optional<uint64_t> instructions;     // executed (the core only)
    std::optional<uint32_t> stack_peak_bytes; // deepest stack below its top (the core only)
    std::vector<std::string> configuration_notes;  // settings that run but are rarely meant
};

class ImageRun {
public:
    // Reads and checks the image and opens the trace; nothing, with one line
    // in `error`, when the image is unfit or an output cannot be written.
    static std::unique_ptr<ImageRun> open(const Options& options, std::string& error);
    ~ImageRun();

    // The board as the image's configuration words set it up.
    sim::BoardOptions board_options() const;
    // Judges the configuration words: what would stop the board becomes a
    // violation, the rest a note in `figures`.
    void check_configuration(sim::Board& board, CpuFigures& figures) const;
    // Runs the image until the board ends the run or the core faults.
    void run(sim::Board& board, CpuFigures& figures);
    // Writes the profile and moves the trace into place; false with a
    // message on stderr when one cannot be written.
    bool write_outputs(std::vector<std::string>& written);

private:
    ImageRun(const Options& options, m4k::ElfImage image) : options_(options), image_(std::move(image)) {}

    const Options& options_;
    m4k::ElfImage image_;
    std::unique_ptr<tools::TempFile> trace_file_;  // the trace until it is complete
    std::FILE* trace_ = nullptr;                    // writing to trace_file_
    std::string profile_text_;
};

}  // namespace tessivo_sim
