// The 1 ms tick, the calendar clock, delayms and the FAT time stamp.
#include <gtest/gtest.h>

#include "app/tick.h"
#include "fatfs/diskio.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/board.h"
#include "tests/support/firmware_harness.h"

namespace {

struct Clock {
    int year, mon, mday, hour, min, sec;  // year counted from 1900
    bool operator==(const Clock&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Clock& c) {
    return os << 1900 + c.year << '-' << c.mon << '-' << c.mday << ' ' << c.hour << ':' << c.min << ':' << c.sec;
}

void set_clock(const Clock& c) {
    rtcYear = static_cast<uint8_t>(c.year);
    rtcMon = static_cast<uint8_t>(c.mon);
    rtcMday = static_cast<uint8_t>(c.mday);
    rtcHour = static_cast<uint8_t>(c.hour);
    rtcMin = static_cast<uint8_t>(c.min);
    rtcSec = static_cast<uint8_t>(c.sec);
}

Clock read_clock() { return {rtcYear, rtcMon, rtcMday, rtcHour, rtcMin, rtcSec}; }

// Runs the tick until a second has just rolled over, so that the next 1000
// ticks end exactly one second later.
void align_to_second() {
    const uint8_t sec = rtcSec;
    for (int i = 0; i < 1000 && rtcSec == sec; ++i) CoreTimerHandler();
}

TEST(Calendar, RollsOverAtTheEndOfEachSecondDayMonthAndYear) {
    sim::Board board;  // the handler clears its flag and moves the compare value
    sim::CompiledCpu cpu(board);
    align_to_second();
    const struct {
        Clock before, after;
    } cases[] = {
        {{112, 2, 28, 23, 59, 59}, {112, 2, 29, 0, 0, 0}},   // 2012 is a leap year
        {{112, 2, 29, 23, 59, 59}, {112, 3, 1, 0, 0, 0}},
        {{111, 2, 28, 23, 59, 59}, {111, 3, 1, 0, 0, 0}},    // 2011 is not
        {{111, 4, 30, 23, 59, 59}, {111, 5, 1, 0, 0, 0}},
        {{111, 5, 31, 23, 59, 59}, {111, 6, 1, 0, 0, 0}},
        {{111, 12, 31, 23, 59, 59}, {112, 1, 1, 0, 0, 0}},
        {{200, 2, 28, 23, 59, 59}, {200, 2, 29, 0, 0, 0}},   // 2100 counts as a leap year
        {{111, 11, 22, 9, 59, 59}, {111, 11, 22, 10, 0, 0}},
        {{111, 11, 22, 9, 41, 7}, {111, 11, 22, 9, 41, 8}},
    };
    for (const auto& c : cases) {
        set_clock(c.before);
        for (int i = 0; i < 999; ++i) CoreTimerHandler();
        EXPECT_EQ(read_clock(), c.before) << "changed before the 1000th tick";
        CoreTimerHandler();
        EXPECT_EQ(read_clock(), c.after) << "from " << c.before;
    }
}

TEST(Calendar, TimeStampPacksTheClockAndLeavesInterruptsOn) {
    sim::Board board;
    sim::CompiledCpu cpu(board);
    const struct {
        Clock clock;
        DWORD stamp;
    } cases[] = {
        {{111, 11, 22, 0, 0, 0}, (31u << 25) | (11u << 21) | (22u << 16)},
        {{111, 11, 22, 13, 45, 59}, (31u << 25) | (11u << 21) | (22u << 16) | (13u << 11) | (45u << 5) | 29u},
        {{126, 12, 31, 23, 59, 58}, (46u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u},
        {{80, 1, 1, 0, 0, 1}, (1u << 21) | (1u << 16)},  // an odd second stamps the even one below
    };
    for (const auto& c : cases) {
        set_clock(c.clock);
        cpu.di();
        EXPECT_EQ(get_fattime(), c.stamp) << c.clock;
        EXPECT_TRUE(cpu.status() & 1u) << "interrupts must be on after get_fattime";
    }
}

TEST(Delay, WaitsBetweenNMinusOneAndNMilliseconds) {
    sim::Board board;
    sim::CompiledCpu cpu(board);
    test_support::start_tick(cpu);
    const sim::Cycle ms = sim::cycles_from_ms(1);
    // Start each delay at a different phase of the current millisecond.
    const unsigned counts[] = {1, 2, 5, 37, 1000};
    for (unsigned phase = 0; phase < 4; ++phase) {
        for (unsigned n : counts) {
            cpu.advance(ms * phase / 4 + 100);
            const sim::Cycle start = board.now();
            delayms(n);
            const sim::Cycle took = board.now() - start;
            EXPECT_GE(took, (n - 1) * ms) << "delayms(" << n << ")";
            EXPECT_LE(took, n * ms + sim::cycles_from_us(1)) << "delayms(" << n << ")";
        }
    }
    const sim::Cycle start = board.now();
    delayms(0);
    EXPECT_LT(board.now() - start, sim::cycles_from_us(1)) << "delayms(0) returns at once";
}

TEST(Tick, OneHourAfterPowerUpTheStampHoldsHourOneAndDoesNotDrift) {
    test_support::run_isolated([] {
        sim::Board board;
        sim::CompiledCpu cpu(board);
        test_support::start_tick(cpu);
        const sim::Cycle ms = sim::cycles_from_ms(1);
        // Step the board a millisecond at a time, half a period off the grid:
        // every handler runs late (at the end of its step), yet the next
        // match stays on the grid.
        const sim::Cycle start = board.now() + ms / 2;
        for (sim::Cycle k = 0; k <= 3600 * 1000; ++k) cpu.advance(start + k * ms - board.now());
        EXPECT_EQ(cpu.interrupts_delivered(), 3600u * 1000u);
        EXPECT_EQ(get_fattime(), (31u << 25) | (11u << 21) | (22u << 16) | (1u << 11));
    });
}

}  // namespace
