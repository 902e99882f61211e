// The chip's image on the simulated M4K core, playing the demo card:
//   - host speed of the core: instructions per second and board seconds per
//     host second, for the picture phase (the CPU is busy) and one playback
//     pass (mostly polling the decoder's data request);
//   - board time from real cycles of the picture phase, Init_TFT, one decoder
//     reset (Init_VS) and one playback pass, next to the compiled firmware's
//     estimate and the picture's bound (card data at 13.33 MHz + panel writes);
//   - the ten functions of the picture phase with the most cycles.
//
//   image_run_bench [IMAGE.elf [CARD.img]]    (defaults: build/pic32/tessivo.elf, the demo card)
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "app/decoder.h"
#include "app/panel.h"
#include "app/tick.h"
#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/card_model.h"
#include "sim/decoder_model.h"
#include "sim/image_cpu/function_profile.h"
#include "sim/image_cpu/image_cpu.h"
#include "sim/panel_model.h"
#include "tools/tessivo-sim/run_report.h"

int firmware_main();
void Init();  // the firmware's port set-up (app/main.cpp)

namespace {

using Clock = std::chrono::steady_clock;

double ms(sim::Cycle c) { return static_cast<double>(c) * 1e3 / sim::kSysClockHz; }

// The board of tessivo-sim with a copy of the card in memory.
struct Bench {
    sim::Board board;
    sim::PanelModel panel;
    sim::DecoderModel decoder;
    sim::MemoryImage disk;
    sim::CardModel card;
    tessivo_sim::RunObserver observer;

    explicit Bench(const std::vector<uint8_t>& card_bytes)
        : disk(card_bytes), card(sim::CardKind::Sdsc, disk), observer(board, panel, decoder, &card) {
        board.plug(panel);
        board.plug(decoder);
        board.plug(card);
        board.every(sim::cycles_from_ms(1), [this](sim::Board&) { observer.sample(); });
    }
};

// The compiled firmware: the picture phase and one pass as the run report
// gives them, and Init_TFT and Init_VS called on their own after the same
// start as main's.
struct CompiledFigures {
    double picture_ms = 0, pass_ms = 0, init_tft_ms = 0, init_vs_ms = 0, bound_ms = 0;
};

CompiledFigures compiled_figures(const std::vector<uint8_t>& card_bytes) {
    CompiledFigures f;
    {
        Bench b(card_bytes);
        b.board.every(sim::cycles_from_ms(1), [&](sim::Board& board) {
            if (b.observer.passes() >= 1) board.request_stop();
        });
        sim::CompiledCpu cpu(b.board);
        cpu.set_vector(CORE_TIMER_VECTOR, &CoreTimerHandler);
        cpu.run([] { firmware_main(); });
        const auto report = b.observer.report("demo", 0);
        f.picture_ms = report.picture_ms();
        f.bound_ms = report.picture_bound_ms;
        if (!report.pass_cycles.empty()) f.pass_ms = ms(report.pass_cycles[0]);
    }
    {
        Bench b(card_bytes);
        sim::CompiledCpu cpu(b.board);
        cpu.set_vector(CORE_TIMER_VECTOR, &CoreTimerHandler);
        cpu.run([&] {
            Init();
            INTEnableSystemMultiVectoredInt();
            SYSTEMConfigPerformance(80000000);
            OSCSetPBDIV(OSC_PB_DIV_1);
            tick_start();
            sim::Cycle t0 = b.board.now();
            Init_TFT();
            f.init_tft_ms = ms(b.board.now() - t0);
            t0 = b.board.now();
            Init_VS();
            f.init_vs_ms = ms(b.board.now() - t0);
        });
    }
    return f;
}

struct Stretch {
    sim::Cycle cycles = 0;
    uint64_t instructions = 0;  // on the chip
    uint64_t interpreted = 0;   // less the iterations of idle and delay loops skipped
    double host_seconds = 0;
    void print(const char* name) const {
        std::printf("  %-14s %8.1f ms board %7.3f s host  %7.2f board s per host s  %7.1f M instr/s on the chip, "
                    "%6.1f M interpreted\n",
                    name, ms(cycles), host_seconds, ms(cycles) / 1e3 / host_seconds,
                    instructions / host_seconds / 1e6, interpreted / host_seconds / 1e6);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const std::string image_path = argc > 1 ? argv[1] : TESSIVO_IMAGE;
    const std::string card_path = argc > 2 ? argv[2] : TESSIVO_DEMO_CARD;
    std::string error;
    const auto image = m4k::ElfImage::read(image_path, error);
    if (!image) {
        std::fprintf(stderr, "image_run_bench: %s\n", error.c_str());
        return 2;
    }
    std::ifstream in(card_path, std::ios::binary);
    const std::vector<uint8_t> card_bytes(std::istreambuf_iterator<char>(in), {});
    if (card_bytes.empty()) {
        std::fprintf(stderr, "image_run_bench: %s: cannot read the card image\n", card_path.c_str());
        return 2;
    }

    // 1. Host speed, phase by phase, with nothing attached to the core.
    Stretch picture, pass;
    sim::Cycle picture_cycles = 0, pass_cycles = 0;
    double bound_ms = 0;
    {
        Bench b(card_bytes);
        sim::ImageCpu cpu(b.board, *image);
        const m4k::Core& core = cpu.core();
        enum { BringUp, Picture, Pass, Done } phase = BringUp;
        Stretch* current = nullptr;
        sim::Cycle c0 = 0;
        uint64_t i0 = 0, s0 = 0;
        auto h0 = Clock::now();
        auto enter = [&](Stretch* next) {
            if (current) {
                current->cycles = core.cycle() - c0;
                current->instructions = core.instructions() - i0;
                current->interpreted = current->instructions - (core.skipped_instructions() - s0);
                current->host_seconds = std::chrono::duration<double>(Clock::now() - h0).count();
            }
            current = next;
            c0 = core.cycle();
            i0 = core.instructions();
            s0 = core.skipped_instructions();
            h0 = Clock::now();
        };
        while (phase != Done) {
            if (cpu.run(core.cycle() + sim::cycles_from_ms(1)) != sim::ImageCpu::Stop::Until) break;
            if (phase == BringUp && b.panel.pixel_count() > 0) {
                enter(&picture);
                phase = Picture;
            } else if (phase == Picture && b.decoder.hardware_resets() >= 1) {
                enter(&pass);
                phase = Pass;
            } else if (phase == Pass && b.decoder.hardware_resets() >= 2) {
                enter(nullptr);
                phase = Done;
            }
        }
        b.observer.sample();
        const auto report = b.observer.report("demo", 0);
        picture_cycles = report.picture_cycles.value_or(0);
        pass_cycles = report.pass_cycles.empty() ? 0 : report.pass_cycles[0];
        bound_ms = report.picture_bound_ms;
        if (phase != Done || b.board.violation_count() != 0) {
            std::fprintf(stderr, "image_run_bench: the run did not complete a pass cleanly (%llu violations)\n",
                         static_cast<unsigned long long>(b.board.violation_count()));
            return 1;
        }
    }

    // 2. Board time of Init_TFT and of the first decoder reset, and the
    //    profile of the picture (from Init_TFT's return to Init_VS), with the
    //    core stepping one instruction at a time.
    sim::Cycle init_tft = 0, init_vs = 0;
    std::string top_ten;
    uint64_t picture_profile_cycles = 0;
    {
        Bench b(card_bytes);
        sim::ImageCpu cpu(b.board, *image);
        m4k::Core& core = cpu.core();
        sim::FunctionProfile profile(cpu);
        const uint32_t tft_at = *image->symbol("_Z8Init_TFTv"), vs_at = *image->symbol("_Z7Init_VSv");
        struct Span {
            sim::Cycle start = 0, end = 0;
            uint32_t return_to = 0;
        } tft, vs;
        bool profiling = false;
        core.set_step_hook([&](uint32_t pc) {
            const sim::Cycle now = core.cycle();
            if (pc == tft_at && !tft.start) {
                tft = {now, 0, core.gpr(31)};
            } else if (tft.start && !tft.end && pc == tft.return_to) {
                tft.end = now;
                profiling = true;
            } else if (pc == vs_at && !vs.start) {
                vs = {now, 0, core.gpr(31)};
                profile.pause();
                profiling = false;
            } else if (vs.start && !vs.end && pc == vs.return_to) {
                vs.end = now;
                core.request_stop();
            }
            if (profiling) profile.step(pc);
        });
        if (cpu.run() != sim::ImageCpu::Stop::Requested) {
            std::fprintf(stderr, "image_run_bench: the run ended before the first decoder reset\n");
            return 1;
        }
        init_tft = tft.end - tft.start;
        init_vs = vs.end - vs.start;
        picture_profile_cycles = profile.total_cycles();
        const auto entries = profile.entries();
        char line[256];
        for (size_t i = 0; i < entries.size() && i < 10; ++i) {
            std::snprintf(line, sizeof line, "  %12llu cycles %5.1f %%  %s\n",
                          static_cast<unsigned long long>(entries[i].cycles),
                          100.0 * entries[i].cycles / picture_profile_cycles, entries[i].function.c_str());
            top_ten += line;
        }
    }

    // 3. The compiled firmware on the same card.
    const CompiledFigures compiled = compiled_figures(card_bytes);

    std::printf("image %s, card %s\n\n", image_path.c_str(), card_path.c_str());
    std::printf("Host speed of the core (goals: picture >= 2, playback >= 20 board s per host s)\n");
    picture.print("picture phase");
    pass.print("playback pass");
    std::printf("\nBoard time                 image (real cycles)   compiled estimate   bound\n");
    std::printf("  picture phase          %12.1f ms       %12.1f ms   %9.1f ms (card data at 13.33 MHz + panel "
                "writes), image/bound %.2f\n",
                ms(picture_cycles), compiled.picture_ms, bound_ms, ms(picture_cycles) / bound_ms);
    std::printf("  Init_TFT               %12.1f ms       %12.1f ms\n", ms(init_tft), compiled.init_tft_ms);
    std::printf("  decoder reset (Init_VS)%12.1f ms       %12.1f ms\n", ms(init_vs), compiled.init_vs_ms);
    std::printf("  playback pass          %12.1f ms       %12.1f ms   (paced by the decoder's data request)\n",
                ms(pass_cycles), compiled.pass_ms);
    std::printf("\nPicture phase (Init_TFT's return to Init_VS, %.1f ms): the ten functions with the most cycles\n%s",
                ms(picture_profile_cycles), top_ten.c_str());
    return 0;
}
