// What the firmware's tick does under each reading of the core-timer flag.
// Whether IFS0.CTIF is set once per Count = Compare match (edge) or follows the
// timer's request until Compare is written (level) is not confirmed for the
// silicon. The handler clears CTIF before it moves Compare, so under the level
// reading the flag comes back at once and the handler runs a second time,
// moving Compare a second period on: ticks come in pairs every 2 ms. The count
// and the calendar still advance at one per millisecond.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/tick.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "tests/support/firmware_harness.h"

namespace {

struct Expectation {
    sim::CoreTimerFlag flag;
    const char* name;
    uint64_t interrupts_in_1000_ms;
    uint64_t most_in_one_ms;     // handler runs within one millisecond of board time
    sim::Cycle longest_gap;      // between two handler runs
    uint8_t seconds_after_10_s;  // calendar progress
};

class CoreTimerFlagTest : public ::testing::TestWithParam<Expectation> {};

TEST_P(CoreTimerFlagTest, TickAndCalendar) {
    test_support::run_isolated([] {
        const Expectation& e = GetParam();
        sim::BoardOptions options;
        options.core_timer_flag = e.flag;
        sim::Board board(options);
        sim::CompiledCpu cpu(board);
        test_support::start_tick(cpu);
        const sim::Cycle ms = sim::cycles_from_ms(1);

        // Whole milliseconds centred on the tick's grid: count the handler
        // runs in each, and the gaps between them.
        cpu.advance(ms / 2);
        uint64_t most = 0, last_count = 0;
        sim::Cycle last_run = board.now(), longest = 0;
        for (int k = 0; k < 1000; ++k) {
            const sim::Cycle end = board.now() + ms;
            while (board.now() < end) {
                const uint64_t before = cpu.interrupts_delivered();
                cpu.advance(1);
                if (cpu.interrupts_delivered() != before) {
                    longest = std::max(longest, board.now() - last_run);
                    last_run = board.now();
                }
            }
            most = std::max(most, cpu.interrupts_delivered() - last_count);
            last_count = cpu.interrupts_delivered();
        }
        EXPECT_EQ(cpu.interrupts_delivered(), e.interrupts_in_1000_ms) << e.name;
        EXPECT_EQ(most, e.most_in_one_ms) << e.name;
        EXPECT_EQ((longest + ms / 2) / ms, e.longest_gap / ms) << e.name;

        const uint8_t sec = rtcSec;
        // Steps short of a period: the handler is never a whole period late.
        for (int k = 0; k < 9000 * 8; ++k) cpu.advance(ms / 8);
        EXPECT_EQ(static_cast<uint8_t>(rtcSec - sec), e.seconds_after_10_s - 1) << e.name;
        EXPECT_TRUE(board.violations().empty());
    });
}

INSTANTIATE_TEST_SUITE_P(
    Flags, CoreTimerFlagTest,
    ::testing::Values(Expectation{sim::CoreTimerFlag::Edge, "edge", 1000, 1, sim::cycles_from_ms(1), 10},
                      Expectation{sim::CoreTimerFlag::Level, "level", 1000, 2, sim::cycles_from_ms(2), 10}),
    [](const ::testing::TestParamInfo<Expectation>& info) { return std::string(info.param.name); });

}  // namespace
