#include "tools/tessivo-sim/run_report.h"

#include <cstdio>

namespace tessivo_sim {
namespace {

constexpr double kCardSpiHz = 80e6 / 6;  // the card's data clock after identification
constexpr double kPixelWrites = 800.0 * 480.0 + 101.0 * 101.0;
constexpr double kIdleCyclesPerPixel = 39;  // the panel driver's write pulse timing

double seconds(sim::Cycle c) { return static_cast<double>(c) / sim::kSysClockHz; }

std::string format(const char* fmt, double value) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

bool uniform_outside_square(const sim::PanelModel& panel) {
    const uint16_t first = panel.pixel(0, 0);
    for (int y = 0; y < sim::PanelModel::kHeight; ++y)
        for (int x = 0; x < sim::PanelModel::kWidth; ++x) {
            const bool in_square = x >= 99 && x <= 199 && y >= 99 && y <= 199;
            if (!in_square && panel.pixel(x, y) != first) return false;
        }
    return true;
}

}  // namespace

RunObserver::RunObserver(sim::Board& board, const sim::PanelModel& panel, const sim::DecoderModel& decoder,
                         const sim::CardModel* card)
    : board_(board), panel_(panel), decoder_(decoder), card_(card) {}

void RunObserver::sample() {
    if (first_pixel_at_ == 0 && panel_.pixel_count() > 0) first_pixel_at_ = board_.now();
    while (resets_.size() < decoder_.hardware_resets()) {
        if (resets_.empty()) {
            picture_done_at_ = panel_.last_pixel_at();
            picture_card_bytes_ = card_ ? card_->bytes_read() : 0;
        }
        resets_.push_back({board_.now(), decoder_.sdi_bytes()});
    }
}

std::string RunObserver::phase_name() const {
    if (!resets_.empty()) return "playback pass " + std::to_string(resets_.size());
    if (first_pixel_at_ != 0) return "picture";
    if (panel_.command_count() > 0) return "panel set-up";
    return "bring-up";
}

Report RunObserver::report(const std::string& card_description, double host_seconds) const {
    Report r;
    r.card = card_description;
    r.board_seconds = board_.seconds();
    r.host_seconds = host_seconds;
    if (first_pixel_at_) r.bring_up_seconds = seconds(first_pixel_at_);
    const sim::Cycle picture_end = picture_done_at_ ? picture_done_at_ : 0;
    if (picture_end) {
        r.picture_ms = seconds(picture_end) * 1000.0;
        r.picture_seconds = seconds(picture_end - first_pixel_at_);
    }
    r.picture_bound_seconds = static_cast<double>(picture_card_bytes_) * 8 / kCardSpiHz +
                              kPixelWrites * kIdleCyclesPerPixel / sim::kSysClockHz;
    r.panel_uniform = panel_.pixel_count() > 0 && uniform_outside_square(panel_);
    r.passes = passes();
    for (size_t i = 0; i + 1 < resets_.size(); ++i) {
        r.pass_seconds.push_back(seconds(resets_[i + 1].at - resets_[i].at));
        r.pass_sdi_bytes.push_back(resets_[i + 1].sdi_bytes - resets_[i].sdi_bytes);
    }
    r.sdi_bytes = decoder_.sdi_bytes();
    r.underruns = decoder_.underruns();
    if (card_) {
        r.card_bytes_read = card_->bytes_read();
        r.card_bytes_written = card_->bytes_written();
    }
    r.violations = board_.violations();
    r.violation_count = board_.violation_count();
    return r;
}

std::string Report::text() const {
    std::string t;
    t += "tessivo-sim: " + format("%.3f", board_seconds) + " s of board time in " + format("%.2f", host_seconds) +
         " s\n";
    t += "  card        " + card + "\n";
    if (bring_up_seconds >= 0)
        t += "  bring-up    " + format("%.3f s", bring_up_seconds) +
             " from reset to the first pixel (start-up, card, panel set-up)\n";
    if (picture_seconds >= 0)
        t += "  picture     " + format("%.3f s", picture_seconds) + " for 384,000 pixels and the square; bound " +
             format("%.3f s", picture_bound_seconds) + " (card at 13.33 MHz + panel writes), ratio " +
             format("%.2f", picture_seconds / picture_bound_seconds) + "\n";
    for (size_t i = 0; i < pass_seconds.size(); ++i)
        t += "  pass " + std::to_string(i + 1) + "      " + format("%.3f s", pass_seconds[i]) + ", " +
             std::to_string(pass_sdi_bytes[i]) + " bytes to the decoder (paced by its data request)\n";
    t += "  decoder     " + std::to_string(sdi_bytes) + " bytes received, " + std::to_string(underruns) +
         " underruns\n";
    t += "  card data   " + std::to_string(card_bytes_read) + " bytes read, " + std::to_string(card_bytes_written) +
         " bytes written\n";

    // What the board did, in words.
    std::string did;
    if (picture_ms < 0)
        did = "The run ended before the picture was finished.";
    else if (panel_uniform)
        did = "The panel shows one colour with the green square: the picture could not be read "
              "(no card, no FAT volume, or no LOL.RAW on it).";
    else
        did = "The panel shows the picture from LOL.RAW with the green square.";
    if (!pass_seconds.empty() || sdi_bytes > 0) {
        uint64_t played = 0;
        for (uint64_t b : pass_sdi_bytes) played += b;
        if (sdi_bytes == 0)
            did += " Silence: LOL.MP3 could not be read (missing, empty, read-only, or no card).";
        else
            did += " The music from LOL.MP3 went to the decoder" +
                   (pass_seconds.empty() ? std::string(" (pass still running).")
                                         : ", " + std::to_string(pass_seconds.size()) + " pass(es) completed.");
    }
    if (card_bytes_written > 0) did += " The firmware wrote to the card (a missing file is created empty).";
    t += "  " + did + "\n";

    if (violation_count == 0) {
        t += "  violations  none\n";
    } else {
        t += "  violations  " + std::to_string(violation_count) + ":\n";
        for (size_t i = 0; i < violations.size() && i < 20; ++i) t += "    " + violations[i] + "\n";
        if (violation_count > 20) t += "    …\n";
    }
    for (const auto& o : outputs) t += "  wrote       " + o + "\n";
    return t;
}

std::string Report::json() const {
    std::string j = "{";
    auto field = [&](const std::string& name, const std::string& value) {
        if (j.size() > 1) j += ", ";
        j += json_string(name) + ": " + value;
    };
    field("board_seconds", format("%.6f", board_seconds));
    field("host_seconds", format("%.3f", host_seconds));
    field("picture_ms", picture_ms < 0 ? "null" : format("%.3f", picture_ms));
    field("picture_bound_ms", format("%.3f", picture_bound_seconds * 1000));
    field("panel_uniform", panel_uniform ? "true" : "false");
    field("passes", std::to_string(passes));
    std::string list = "[";
    for (size_t i = 0; i < pass_seconds.size(); ++i) list += (i ? ", " : "") + format("%.6f", pass_seconds[i]);
    field("pass_seconds", list + "]");
    field("sdi_bytes", std::to_string(sdi_bytes));
    field("underruns", std::to_string(underruns));
    field("card_bytes_read", std::to_string(card_bytes_read));
    field("card_bytes_written", std::to_string(card_bytes_written));
    field("violations", std::to_string(violation_count));
    // A string of its own: assigning "[" to `list` again trips a false
    // -Wrestrict in GCC 12's std::string at -O3.
    std::string log = "[";
    for (size_t i = 0; i < violations.size(); ++i) log += (i ? ", " : "") + json_string(violations[i]);
    field("violation_log", log + "]");
    field("card", json_string(card));
    return j + "}";
}

}  // namespace tessivo_sim
