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
    while (resets_ < decoder_.hardware_resets()) {
        if (resets_ == 0) {
            picture_done_at_ = panel_.last_pixel_at();
            picture_card_bytes_ = card_ ? card_->bytes_read() : 0;
        } else {
            pass_cycles_.push_back(board_.now() - pass_start_);
            const uint64_t bytes = decoder_.sdi_bytes() - pass_start_bytes_;
            if (bytes == 0) ++empty_passes_;
            else music_passes_.push_back({resets_, board_.now() - pass_start_, bytes});
        }
        ++resets_;
        pass_start_ = board_.now();
        pass_start_bytes_ = decoder_.sdi_bytes();
    }
}

std::string RunObserver::phase_name() const {
    if (resets_ > 0) return "playback pass " + std::to_string(resets_);
    if (first_pixel_at_ != 0) return "picture";
    if (panel_.command_count() > 0) return "panel set-up";
    return "bring-up";
}

Report RunObserver::report(const std::string& card_description, double host_seconds) const {
    Report r;
    r.card = card_description;
    r.cycles = board_.now();
    r.host_seconds = host_seconds;
    if (first_pixel_at_) r.bring_up_cycles = first_pixel_at_;
    if (first_pixel_at_ && picture_done_at_) r.picture_cycles = picture_done_at_ - first_pixel_at_;
    r.pass_cycles = pass_cycles_;
    r.picture_bound_ms = (static_cast<double>(picture_card_bytes_) * 8 / kCardSpiHz +
                          kPixelWrites * kIdleCyclesPerPixel / sim::kSysClockHz) *
                         1000;
    r.panel_uniform = panel_.pixel_count() > 0 && uniform_outside_square(panel_);
    r.passes = passes();
    r.music_passes = music_passes_;
    r.empty_passes = empty_passes_;
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

double Report::board_seconds() const { return seconds(cycles); }
double Report::bringup_ms() const { return bring_up_cycles ? seconds(*bring_up_cycles) * 1000 : -1; }
double Report::picture_ms() const { return picture_cycles ? seconds(*picture_cycles) * 1000 : -1; }

std::string Report::text() const {
    std::string t;
    t += "tessivo-sim: " + format("%.3f", board_seconds()) + " s of board time in " + format("%.2f", host_seconds) +
         " s\n";
    t += "  card        " + card + "\n";
    if (instructions) {
        t += "  cpu         the image on the M4K core: " + std::to_string(*instructions) + " instructions in " +
             std::to_string(cycles) + " cycles";
        if (stack_peak_bytes) t += ", stack peak " + std::to_string(*stack_peak_bytes) + " bytes";
        t += "\n";
    } else {
        t += "  cpu         the firmware compiled for this computer (time estimated per register access)\n";
    }
    for (const auto& n : notes) t += "  note        " + n + "\n";
    if (on_card)
        for (const std::string& finding : on_card->findings) t += "  on the card " + finding + "\n";
    if (bring_up_cycles)
        t += "  bring-up    " + format("%.1f ms", bringup_ms()) +
             " from reset to the first pixel (start-up, card, panel set-up)\n";
    if (picture_cycles)
        t += "  picture     " + format("%.1f ms", picture_ms()) +
             " from the first pixel to the last of the square; bound " + format("%.1f ms", picture_bound_ms) +
             " (card at 13.33 MHz + panel writes), ratio " + format("%.2f", picture_ms() / picture_bound_ms) + "\n";
    for (const MusicPass& p : music_passes)
        t += "  pass " + std::to_string(p.number) + "      " + format("%.3f s", seconds(p.cycles)) + ", " +
             std::to_string(p.sdi_bytes) + " bytes to the decoder (paced by its data request)\n";
    if (empty_passes > 0)
        t += "  empty       " + std::to_string(empty_passes) +
             " pass(es) sent nothing to the decoder (a reset, no music to read)\n";
    t += "  decoder     " + std::to_string(sdi_bytes) + " bytes received, " + std::to_string(underruns) +
         " underruns\n";
    t += "  card data   " + std::to_string(card_bytes_read) + " bytes read, " + std::to_string(card_bytes_written) +
         " bytes written\n";

    // What the board did, in words.
    std::string did;
    if (!picture_cycles)
        did = "The run ended before the picture was finished.";
    else if (picture_from_card())
        did = "The panel shows the picture from LOL.RAW with the green square.";
    else if (panel_uniform)
        did = "The panel shows one colour with the green square: no picture came from the card.";
    else
        did = "The panel shows the green square over what the firmware read.";
    if (passes > 0 || sdi_bytes > 0) {
        if (sdi_bytes == 0)
            did += " Silence: no music went to the decoder.";
        else
            did += " The music from LOL.MP3 went to the decoder" +
                   (music_passes.empty() ? std::string(" (pass still running).")
                                         : ", " + std::to_string(music_passes.size()) + " pass(es) completed.");
    }
    if (card_bytes_written > 0)
        did += " The firmware wrote to the card (a missing file is created empty); the image file is unchanged.";
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
    const auto list = [](const std::vector<std::string>& items) {
        std::string l = "[";
        for (size_t i = 0; i < items.size(); ++i) l += (i ? ", " : "") + items[i];
        return l + "]";
    };
    field("board_seconds", format("%.6f", board_seconds()));
    field("host_seconds", format("%.3f", host_seconds));
    field("bringup_ms", bring_up_cycles ? format("%.3f", bringup_ms()) : "null");
    field("picture_ms", picture_cycles ? format("%.3f", picture_ms()) : "null");
    field("picture_bound_ms", format("%.3f", picture_bound_ms));
    field("panel_uniform", panel_uniform ? "true" : "false");
    field("picture_from_card", picture_from_card() ? "true" : "false");
    field("passes", std::to_string(passes));
    field("empty_passes", std::to_string(empty_passes));
    std::vector<std::string> numbers, secs, bytes;
    for (const MusicPass& p : music_passes) {
        numbers.push_back(std::to_string(p.number));
        secs.push_back(format("%.6f", seconds(p.cycles)));
        bytes.push_back(std::to_string(p.sdi_bytes));
    }
    field("music_passes", list(numbers));
    field("pass_seconds", list(secs));
    field("pass_sdi_bytes", list(bytes));
    field("sdi_bytes", std::to_string(sdi_bytes));
    field("underruns", std::to_string(underruns));
    field("card_bytes_read", std::to_string(card_bytes_read));
    field("card_bytes_written", std::to_string(card_bytes_written));
    field("violations", std::to_string(violation_count));
    std::vector<std::string> texts;
    for (const std::string& v : violations) texts.push_back(json_string(v));
    field("violation_log", list(texts));
    field("card", json_string(card));
    texts.clear();
    if (on_card)
        for (const std::string& f : on_card->findings) texts.push_back(json_string(f));
    field("card_findings", list(texts));
    field("cpu", json_string(cpu));
    field("instructions", instructions ? std::to_string(*instructions) : "null");
    field("cycles", std::to_string(cycles));
    field("stack_peak_bytes", stack_peak_bytes ? std::to_string(*stack_peak_bytes) : "null");
    auto optional_number = [](const std::optional<uint64_t>& v) { return v ? std::to_string(*v) : "null"; };
    texts.clear();
    for (const uint64_t c : pass_cycles) texts.push_back(std::to_string(c));
    field("phase_cycles", "{\"bring_up\": " + optional_number(bring_up_cycles) +
                              ", \"picture\": " + optional_number(picture_cycles) + ", \"passes\": " + list(texts) + "}");
    texts.clear();
    for (const std::string& n : notes) texts.push_back(json_string(n));
    field("configuration_notes", list(texts));
    return j + "}";
}

}  // namespace tessivo_sim
