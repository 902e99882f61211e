// The configuration words judged against the board: what would stop it is a
// failure, settings that run but are rarely meant are notes.
#include <gtest/gtest.h>

#include "sim/image_cpu/configuration_check.h"

namespace {

constexpr uint32_t kShipped[4] = {0x7FFFFFFFu, 0xFF60DA5Bu, 0xFFF8FFD9u, 0xFFFFFFFFu};

TEST(Configuration, TheShippedWordsRunTheBoardAt80MHz) {
    EXPECT_TRUE(sim::check_configuration(kShipped).empty());
    EXPECT_EQ(sim::reset_pb_divider(kShipped[1]), 2u);
}

TEST(Configuration, FindingsNameTheFieldAndWhatFollows) {
    const struct {
        const char* name;
        unsigned word;
        uint32_t value;
        bool fails;
        const char* says;
    } cases[] = {
        {"internal oscillator", 1, 0xFF60DA58u, true, "FNOSC selects the internal FRC oscillator"},
        {"no PLL", 1, 0xFF60DA5Au, true, "without the PLL"},
        {"external clock mode", 1, 0xFF60D85Bu, true, "POSCMOD is external clock"},
        {"oscillator off", 1, 0xFF60DB5Bu, true, "POSCMOD is off"},
        {"PLL x24", 2, 0xFFF8FFF9u, true, "8 MHz / 2 x 24 / 1 = 96 MHz"},
        {"PLL output /2", 2, 0xFFF9FFD9u, true, "= 40 MHz"},
        {"watchdog on", 1, 0xFFE0DA5Bu, true, "FWDTEN turns the watchdog on"},
        {"code protection", 0, 0x6FFFFFFFu, false, "code protection is on"},
        {"debugger enabled", 0, 0x7FFFFFFEu, false, "the debugger is enabled"},
        {"unimplemented bit cleared", 2, 0x7FF8FFD9u, false, "bits the part does not implement"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t words[4] = {kShipped[0], kShipped[1], kShipped[2], kShipped[3]};
        words[c.word] = c.value;
        const auto findings = sim::check_configuration(words);
        ASSERT_EQ(findings.size(), 1u);
        EXPECT_EQ(findings[0].board_would_fail, c.fails);
        EXPECT_NE(findings[0].text.find("DEVCFG" + std::to_string(c.word)), std::string::npos) << findings[0].text;
        EXPECT_NE(findings[0].text.find(c.says), std::string::npos) << findings[0].text;
    }
}

TEST(Configuration, ErasedWordsAreNoBoardForThisFirmware) {
    const uint32_t erased[4] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    bool clock = false, watchdog = false;
    for (const auto& f : sim::check_configuration(erased)) {
        clock = clock || (f.board_would_fail && f.text.find("FNOSC") != std::string::npos);
        watchdog = watchdog || (f.board_would_fail && f.text.find("watchdog") != std::string::npos);
    }
    EXPECT_TRUE(clock);
    EXPECT_TRUE(watchdog);
    EXPECT_EQ(sim::reset_pb_divider(0xFFFFFFFFu), 8u);
}

}  // namespace
