// tessivo-sim: runs the firmware on the simulated board with a card, the
// panel and the decoder plugged in, then tells what the board did.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/tick.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/board.h"
#include "sim/card_model.h"
#include "sim/decoder_model.h"
#include "sim/panel_model.h"
#include "tools/tessivo-sim/card_probe.h"
#include "tools/tessivo-sim/image_run.h"
#include "tools/tessivo-sim/options.h"
#include "tools/tessivo-sim/output_paths.h"
#include "tools/tessivo-sim/overlay_image.h"
#include "tools/tessivo-sim/run_report.h"

int firmware_main();

namespace tessivo_sim {
namespace {

using Clock = std::chrono::steady_clock;

// The card to insert, or none.
struct Socket {
    std::unique_ptr<sim::DiskImage> image;
    std::optional<sim::CardKind> kind;
    std::string description;
    std::string path;  // the image file or card, empty for none
};

bool load_card(const Options& o, Socket& socket, std::string& error) {
    if (o.card_type == "none") {
        socket.description = "empty socket";
        return true;
    }
    std::string path = o.card;
    if (path.empty()) {
        path = TESSIVO_DEMO_CARD;
        socket.description = "built-in demo card";
    } else {
        socket.description = path;
    }
    socket.path = path;
    auto image = OverlayImage::open(path, error);
    if (!image) {
        if (o.card.empty()) error = "the built-in demo card is missing (" + error + "); build the target demo_card";
        return false;
    }
    const uint64_t size = image->size();
    if (!o.card_type.empty()) {
        socket.kind = sim::parse_card_kind(o.card_type);
    } else {
        socket.kind = size <= (uint64_t{2} << 30)    ? sim::CardKind::Sdsc
                      : size <= (uint64_t{32} << 30) ? sim::CardKind::Sdhc
                                                     : sim::CardKind::Sdxc;
    }
    socket.description += std::string(" (") + sim::card_kind_name(*socket.kind) + ", " +
                          std::to_string(size >> 20) + " MB)";
    socket.image = std::move(image);
    return true;
}

// --strict: the board must have shown the picture from the card and sent
// music to the decoder; says on stderr which it did not.
bool strict_run_passed(const Report& report) {
    if (!report.picture_from_card())
        std::fprintf(stderr, "tessivo-sim: --strict: the board showed no picture from the card\n");
    if (!report.music_sent()) std::fprintf(stderr, "tessivo-sim: --strict: the board sent no music\n");
    return report.picture_from_card() && report.music_sent();
}

std::string megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

int run(const Options& o) {
    Socket socket;
    std::string error;
    if (!load_card(o, socket, error)) {
        std::fprintf(stderr, "tessivo-sim: %s\n", error.c_str());
        return 2;
    }
    error = check_outputs(o, socket.path);
    if (!error.empty()) {
        std::fprintf(stderr, "tessivo-sim: %s\n", error.c_str());
        return 2;
    }
    std::optional<tools::CardFacts> facts;
    if (socket.kind) facts = probe_card(*socket.image, *socket.kind);

    std::unique_ptr<sim::CardModel> card;
    if (socket.kind) {
        try {
            card = std::make_unique<sim::CardModel>(*socket.kind, *socket.image);
        } catch (const std::invalid_argument& e) {
            std::fprintf(stderr, "tessivo-sim: %s: %s\n", socket.description.c_str(), e.what());
            return 2;
        }
    }
    std::unique_ptr<ImageRun> image;
    if (!o.image.empty()) {
        image = ImageRun::open(o, error);
        if (!image) {
            std::fprintf(stderr, "tessivo-sim: %s\n", error.c_str());
            return 2;
        }
    }
    sim::Board board(image ? image->board_options() : sim::BoardOptions{});
    CpuFigures figures;
    if (image) image->check_configuration(board, figures);
    sim::PanelModel panel;
    sim::DecoderModel decoder;
    board.plug(panel);
    board.plug(decoder);
    if (card) board.plug(*card);
    decoder.capture_audio(!o.audio.empty());
    decoder.capture_sdi(!o.sdi_dump.empty());

    RunObserver observer(board, panel, decoder, card.get());
    const bool progress = !o.quiet && isatty(STDERR_FILENO);
    const auto host_start = Clock::now();
    auto last_print = host_start;
    board.stop_at(static_cast<sim::Cycle>(o.max_seconds * sim::kSysClockHz));
    board.every(sim::cycles_from_ms(1), [&](sim::Board& b) {
        observer.sample();
        if (o.passes > 0 && observer.passes() >= static_cast<uint64_t>(o.passes)) b.request_stop();
        if (progress && Clock::now() - last_print > std::chrono::milliseconds(200)) {
            last_print = Clock::now();
            std::fprintf(stderr, "\r%9.3f s  %-16s  card %s read  decoder %s   ", b.seconds(),
                         observer.phase_name().c_str(), megabytes(card ? card->bytes_read() : 0).c_str(),
                         megabytes(decoder.sdi_bytes()).c_str());
        }
    });

    if (image) {
        image->run(board, figures);
    } else {
        sim::CompiledCpu cpu(board);
        cpu.set_vector(CORE_TIMER_VECTOR, &CoreTimerHandler);
        cpu.run([] { firmware_main(); });
    }
    observer.sample();
    const double host_seconds = std::chrono::duration<double>(Clock::now() - host_start).count();
    if (progress) std::fprintf(stderr, "\r%*s\r", 80, "");

    Report report = observer.report(socket.description, host_seconds);
    report.cpu = figures.cpu;
    report.instructions = figures.instructions;
    report.stack_peak_bytes = figures.stack_peak_bytes;
    report.notes = figures.configuration_notes;
    if (facts) report.on_card = tools::judge_card(*facts);
    if (!socket.kind)
        report.on_card = tools::CardVerdict{false, false, {"Nothing: the socket is empty; the board shows one colour "
                                                           "and plays nothing."}};

    bool io_ok = true;
    auto output = [&](const std::string& path, bool ok, const char* what) {
        if (path.empty()) return;
        if (!ok) {
            std::fprintf(stderr, "tessivo-sim: %s: cannot write the %s: %s\n", path.c_str(), what,
                         errno ? std::strerror(errno) : "write failed");
            io_ok = false;
        } else {
            report.outputs.push_back(std::string(what) + ": " + path);
        }
    };
    errno = 0;
    output(o.panel_png, o.panel_png.empty() || panel.write_png(o.panel_png), "panel picture");
    output(o.panel_raw, o.panel_raw.empty() || panel.write_raw(o.panel_raw), "panel RGB565");
    output(o.sdi_dump, o.sdi_dump.empty() || decoder.write_sdi_dump(o.sdi_dump), "SDI bytes");
    output(o.audio, o.audio.empty() || decoder.write_wav(o.audio), "decoded audio");
    if (image && !image->write_outputs(report.outputs)) io_ok = false;
    if (!o.report_json.empty()) {
        std::ofstream json(o.report_json);
        json << report.json() << '\n';
        output(o.report_json, static_cast<bool>(json), "report");
    }
    if (!o.quiet) std::fputs(report.text().c_str(), stdout);

    if (!io_ok) return 2;
    if (board.violation_count() != 0) return 1;
    return o.strict && !strict_run_passed(report) ? 1 : 0;
}

}  // namespace
}  // namespace tessivo_sim

int main(int argc, char** argv) {
    int exit_code = 0;
    const auto options = tessivo_sim::parse_options(argc, argv, exit_code);
    if (!options) return exit_code;
    return tessivo_sim::run(*options);
}
