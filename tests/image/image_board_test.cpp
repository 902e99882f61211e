// The real image on the core and the board: idle skipping changes nothing,
// the tick under each reading of the core-timer flag, and the faults the core
// finds reported as board violations.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "sim/board.h"
#include "sim/card_model.h"
#include "sim/decoder_model.h"
#include "sim/image_cpu/image_cpu.h"
#include "sim/panel_model.h"
#include "tests/support/real_image.h"

namespace {

// The board of tessivo-sim: panel, decoder and, if given, a card holding a
// copy of `card_file` in memory; the image on the core.
struct ImageBoard {
    sim::Board board;
    sim::PanelModel panel;
    sim::DecoderModel decoder;
    std::unique_ptr<sim::MemoryImage> disk;
    std::unique_ptr<sim::CardModel> card;
    sim::ImageCpu cpu;

    ImageBoard(const m4k::ElfImage& image, const sim::BoardOptions& options, const char* card_file)
        : board(options), cpu(board, image) {
        board.plug(panel);
        board.plug(decoder);
        decoder.capture_sdi(true);
        if (card_file) {
            std::ifstream in(card_file, std::ios::binary);
            disk = std::make_unique<sim::MemoryImage>(
                std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
            card = std::make_unique<sim::CardModel>(sim::CardKind::Sdsc, *disk);
            board.plug(*card);
        }
    }
    uint32_t ram_word(uint32_t vaddr) const {
        uint32_t w = 0;
        cpu.core().read_memory(vaddr & 0x1FFFFFFFu, &w, 4);
        return w;
    }
};

TEST(ImageOnBoard, IdleSkippingChangesNothing) {
    REQUIRE_IMAGE(image);
    if (!std::filesystem::exists(TESSIVO_DEMO_CARD)) GTEST_SKIP() << "the demo card is missing";
    ImageBoard skipping(*image, {}, TESSIVO_DEMO_CARD), stepping(*image, {}, TESSIVO_DEMO_CARD);
    stepping.cpu.core().set_idle_skip(false);
    // Start-up and the card, the panel's set-up, the picture, the first music.
    for (const double seconds : {0.001, 0.06, 0.17, 1.0, 2.7, 2.9}) {
        SCOPED_TRACE(seconds);
        const sim::Cycle until = static_cast<sim::Cycle>(seconds * sim::kSysClockHz);
        ASSERT_EQ(skipping.cpu.run(until), sim::ImageCpu::Stop::Until);
        ASSERT_EQ(stepping.cpu.run(until), sim::ImageCpu::Stop::Until);
        const m4k::Core &a = skipping.cpu.core(), &b = stepping.cpu.core();
        EXPECT_EQ(a.cycle(), b.cycle());
        EXPECT_EQ(skipping.board.now(), stepping.board.now());
        EXPECT_EQ(a.instructions(), b.instructions());
        EXPECT_EQ(a.pc(), b.pc());
        for (unsigned r = 0; r < 32; ++r) EXPECT_EQ(a.gpr(r), b.gpr(r)) << r;
        EXPECT_EQ(a.hi(), b.hi());
        EXPECT_EQ(a.lo(), b.lo());
        std::vector<uint8_t> ram_a(m4k::config::kRamSize), ram_b(m4k::config::kRamSize);
        a.read_memory(0, ram_a.data(), ram_a.size());
        b.read_memory(0, ram_b.data(), ram_b.size());
        EXPECT_TRUE(ram_a == ram_b);
        EXPECT_EQ(skipping.panel.pixel_count(), stepping.panel.pixel_count());
        EXPECT_TRUE(skipping.panel.frame() == stepping.panel.frame());
        EXPECT_EQ(skipping.decoder.sdi(), stepping.decoder.sdi());
        EXPECT_EQ(skipping.board.violation_count(), 0u);
        EXPECT_EQ(stepping.board.violation_count(), 0u);
    }
    EXPECT_GT(skipping.cpu.core().skipped_cycles(), 0u);
    EXPECT_EQ(stepping.cpu.core().skipped_cycles(), 0u);
    EXPECT_GT(skipping.panel.pixel_count(), 800u * 480u) << "the window holds the whole picture";
    EXPECT_GT(skipping.decoder.sdi().size(), 0u) << "and the start of the music";
}

// Whether IFS0.CTIF is set once per match (edge) or follows the timer's
// request (level): the handler clears the flag before it moves Compare, so
// under the level reading it runs twice in a row every other millisecond;
// the count stays one per millisecond, as with the compiled firmware.
TEST(ImageOnBoard, TickUnderEachCoreTimerFlag) {
    REQUIRE_IMAGE(image);
    const auto div1k = image->symbol("_ZZ16CoreTimerHandlerE5div1k");  // the handler's millisecond count
    const auto rtc_sec = image->symbol("rtcSec");
    ASSERT_TRUE(div1k && rtc_sec);
    const struct {
        sim::CoreTimerFlag flag;
        const char* name;
        unsigned most_in_one_ms;
        unsigned longest_silence_ms;  // whole windows without a handler run, in a row
    } cases[] = {
        {sim::CoreTimerFlag::Edge, "edge", 1, 0},
        {sim::CoreTimerFlag::Level, "level", 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::BoardOptions options;
        options.core_timer_flag = c.flag;
        ImageBoard b(*image, options, nullptr);
        const sim::Cycle ms = sim::cycles_from_ms(1);
        ASSERT_EQ(b.cpu.run(sim::cycles_from_ms(300)), sim::ImageCpu::Stop::Until);
        // Windows of one millisecond centred on the tick's grid.
        sim::Cycle at = b.cpu.core().next_timer_match() + ms / 2;
        ASSERT_EQ(b.cpu.run(at), sim::ImageCpu::Stop::Until);
        auto handler_runs = [&] { return b.ram_word(*div1k); };
        const uint8_t seconds_before = static_cast<uint8_t>(b.ram_word(*rtc_sec) >> (8 * (*rtc_sec & 3)));
        uint32_t last = handler_runs();
        unsigned total = 0, most = 0, silence = 0, longest_silence = 0;
        for (int k = 0; k < 1000; ++k) {
            at += ms;
            ASSERT_EQ(b.cpu.run(at), sim::ImageCpu::Stop::Until);
            const uint32_t now = handler_runs();
            const unsigned runs = (now + 1000 - last) % 1000;  // the count wraps at one second
            last = now;
            total += runs;
            most = std::max(most, runs);
            silence = runs ? 0 : silence + 1;
            longest_silence = std::max(longest_silence, silence);
        }
        EXPECT_EQ(total, 1000u);
        EXPECT_EQ(most, c.most_in_one_ms);
        EXPECT_EQ(longest_silence, c.longest_silence_ms);
        const uint8_t seconds_after = static_cast<uint8_t>(b.ram_word(*rtc_sec) >> (8 * (*rtc_sec & 3)));
        EXPECT_EQ(static_cast<uint8_t>(seconds_after - seconds_before), 1) << "the calendar keeps time";
        EXPECT_EQ(b.board.violation_count(), 0u);
    }
}

// A debugger or a benchmark stops the run at an instruction through the step hook.
TEST(ImageOnBoard, AStepHookStopsTheRunAtAnInstruction) {
    REQUIRE_IMAGE(image);
    ImageBoard b(*image, {}, nullptr);
    const uint32_t main_at = *image->symbol("main");
    b.cpu.core().set_step_hook([&](uint32_t pc) {
        if (pc == main_at) b.cpu.core().request_stop();
    });
    EXPECT_EQ(b.cpu.run(sim::cycles_from_ms(100)), sim::ImageCpu::Stop::Requested);
    EXPECT_EQ(b.cpu.core().pc(), main_at);
    EXPECT_EQ(b.board.now(), b.cpu.core().cycle());
    EXPECT_EQ(b.board.violation_count(), 0u);
}

// What the core finds in a broken image ends the run as a board violation
// that names the fault, the function, the instruction and the registers.
TEST(ImageOnBoard, FaultsBecomeViolationsWithTheirPlace) {
    REQUIRE_IMAGE(image);
    const uint32_t main_at = *image->symbol("main");
    const struct {
        const char* name;
        uint32_t patch_at;      // virtual address of a word to replace (0: none)
        uint32_t word;
        uint32_t stack_margin;  // stack limit this far below its top (0: the linker's)
        const char* says;
    } cases[] = {
        {"reserved instruction", main_at, 0x60000000u, 0, "reserved instruction in main (pc 0x9d001"},
        {"store into flash", main_at, 0xAF200000u /* sw zero,0(t9): t9 holds main */, 0, "store into flash in main"},
        {"vector 0 erased", 0x9D000200u, 0xFFFFFFFFu, 0, "exception without a handler"},
        {"stack too small", 0, 0, 64, "stack pointer below its limit in "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImageBoard b(*image, {}, nullptr);
        if (c.patch_at) {
            ASSERT_TRUE(b.cpu.core().write_memory(c.patch_at & 0x1FFFFFFFu, &c.word, 4));
        }
        if (c.stack_margin) b.cpu.core().set_stack_limit(*image->symbol("_stack_top") - c.stack_margin);
        EXPECT_EQ(b.cpu.run(sim::cycles_from_ms(50)), sim::ImageCpu::Stop::Fault);
        ASSERT_EQ(b.board.violations().size(), 1u);
        const std::string& text = b.board.violations()[0];
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
        EXPECT_NE(text.find(" sp=8000"), std::string::npos) << "registers: " << text;
        EXPECT_EQ(text.find('\n'), std::string::npos) << "one line";
    }
}

}  // namespace
