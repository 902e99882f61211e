#pragma once
// Watches a run of the firmware on the simulated board and tells what the
// board did: phases with their board time next to their bounds, passes,
// traffic, violations.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/card_model.h"
#include "sim/decoder_model.h"
#include "sim/panel_model.h"

namespace tessivo_sim {

struct Report {
    std::string card;
    double board_seconds = 0, host_seconds = 0;
    double bring_up_seconds = -1;  // reset to the first pixel (-1: not reached)
    double picture_seconds = -1;   // first pixel to the last pixel of the square
    double picture_bound_seconds = 0;  // card data read so far at 13.33 MHz + panel writes
    double picture_ms = -1;        // reset to the last pixel of the square
    bool panel_uniform = false;    // every pixel outside the square alike
    uint64_t passes = 0;
    std::vector<double> pass_seconds;
    std::vector<uint64_t> pass_sdi_bytes;
    uint64_t sdi_bytes = 0, underruns = 0;
    uint64_t card_bytes_read = 0, card_bytes_written = 0;
    uint64_t violation_count = 0;
    std::vector<std::string> violations;  // the first texts
    std::vector<std::string> outputs;

    // What ran the firmware: "m4k" (the image on the core) or "compiled".
    std::string cpu = "compiled";
    std::optional<uint64_t> instructions;      // the core only
    std::optional<uint32_t> stack_peak_bytes;  // the core only
    uint64_t cycles = 0;                       // board cycles simulated
    // Board cycles of each phase: reset to the first pixel, the picture, each pass.
    std::optional<uint64_t> bring_up_cycles, picture_cycles;
    std::vector<uint64_t> pass_cycles;
    std::vector<std::string> notes;  // configuration settings worth a look

    std::string text() const;
    std::string json() const;
};

class RunObserver {
public:
    RunObserver(sim::Board& board, const sim::PanelModel& panel, const sim::DecoderModel& decoder,
                const sim::CardModel* card);
    // Looks at the models; called every millisecond of board time.
    void sample();
    // Playback passes completed: a pass ends when the next decoder reset begins.
    uint64_t passes() const { return resets_.empty() ? 0 : resets_.size() - 1; }
    std::string phase_name() const;
    Report report(const std::string& card_description, double host_seconds) const;

private:
    struct Reset {
        sim::Cycle at;
        uint64_t sdi_bytes;
    };
    sim::Board& board_;
    const sim::PanelModel& panel_;
    const sim::DecoderModel& decoder_;
    const sim::CardModel* card_;
    sim::Cycle first_pixel_at_ = 0;
    sim::Cycle picture_done_at_ = 0;
    uint64_t picture_card_bytes_ = 0;  // card data read up to the end of the picture
    std::vector<Reset> resets_;
};

}  // namespace tessivo_sim
