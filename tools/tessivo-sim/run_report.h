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
#include "tools/common/card_check.h"

namespace tessivo_sim {

// A playback pass that sent music to the decoder.
struct MusicPass {
    uint64_t number = 0;  // 1 for the first pass
    uint64_t cycles = 0;  // board time
    uint64_t sdi_bytes = 0;
};

struct Report {
    std::string card;
    uint64_t cycles = 0;  // board cycles simulated
    double host_seconds = 0;
    // Board cycles from reset to the first pixel (start-up, card, panel
    // set-up), then from the first pixel to the last pixel of the square;
    // empty when not reached.
    std::optional<uint64_t> bring_up_cycles, picture_cycles;
    double picture_bound_ms = 0;  // card data read for the picture at 13.33 MHz + panel writes
    bool panel_uniform = false;   // every pixel outside the square alike
    uint64_t passes = 0;          // completed playback passes
    std::vector<MusicPass> music_passes;
    uint64_t empty_passes = 0;    // completed passes that sent nothing
    uint64_t sdi_bytes = 0, underruns = 0;
    uint64_t card_bytes_read = 0, card_bytes_written = 0;
    uint64_t violation_count = 0;
    std::vector<std::string> violations;  // the first texts
    // What the card holds for the player, when it could be looked at.
    std::optional<tools::CardVerdict> on_card;
    std::vector<std::string> outputs;

    // What ran the firmware: "m4k" (the image on the core) or "compiled".
    std::string cpu = "compiled";
    std::optional<uint64_t> instructions;      // the core only
    std::optional<uint32_t> stack_peak_bytes;  // the core only
    // Board cycles of each completed pass (those that sent nothing too).
    std::vector<uint64_t> pass_cycles;
    std::vector<std::string> notes;  // configuration settings worth a look

    // The phases' board time as the report states it; -1 when not reached.
    double board_seconds() const;
    double bringup_ms() const;
    double picture_ms() const;

    // The board showed the picture from the card: it was there to show (or,
    // when the card could not be looked at, the panel is not one colour) and
    // the picture phase ended.
    bool picture_from_card() const { return picture_cycles && (on_card ? on_card->picture : !panel_uniform); }
    bool music_sent() const { return sdi_bytes > 0; }

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
    uint64_t passes() const { return resets_ == 0 ? 0 : resets_ - 1; }
    std::string phase_name() const;
    Report report(const std::string& card_description, double host_seconds) const;

private:
    sim::Board& board_;
    const sim::PanelModel& panel_;
    const sim::DecoderModel& decoder_;
    const sim::CardModel* card_;
    sim::Cycle first_pixel_at_ = 0;
    sim::Cycle picture_done_at_ = 0;
    uint64_t picture_card_bytes_ = 0;  // card data read up to the end of the picture
    uint64_t resets_ = 0;              // decoder resets seen, one per pass begun
    sim::Cycle pass_start_ = 0;        // board time and decoder bytes at the last reset
    uint64_t pass_start_bytes_ = 0;
    std::vector<MusicPass> music_passes_;
    uint64_t empty_passes_ = 0;
    std::vector<sim::Cycle> pass_cycles_;  // every completed pass
};

}  // namespace tessivo_sim
