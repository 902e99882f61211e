// The firmware's start-up: Init and the clock, bus, cache and tick set-up.
#include <gtest/gtest.h>

#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/board.h"
#include "tests/support/firmware_harness.h"
#include "app/tick.h"

int firmware_main();

namespace {

using sim::Port;

TEST(BringUp, LeavesEveryPinAndSettingAsTheBoardNeeds) {
    test_support::run_isolated([] {
        sim::Board board;
        sim::CompiledCpu cpu(board);
        cpu.set_vector(CORE_TIMER_VECTOR, &CoreTimerHandler);
        board.stop_at(sim::cycles_from_us(200));  // well before the first card or panel access
        ASSERT_TRUE(cpu.run([] { firmware_main(); }));

        const struct {
            Port port;
            uint32_t tris_mask, tris, level_mask, level;
        } pins[] = {
            {Port::B, 0xFFFF, 0x0000, 0xFFFF, 0x0000},  // panel bus: outputs, low
            {Port::D, 0x0FFF, 0x0300, 0x0CFF, 0x0001},  // RD0 high; RD8, RD9 inputs; rest low
            {Port::E, 0x00FF, 0x0080, 0x007F, 0x007F},  // RE0..RE6 high, RE7 input
            {Port::G, 0x03CC, 0x0080, 0x034C, 0x020C},  // XDCS, XCS, XRESET high; RG7 input
        };
        for (const auto& p : pins) {
            EXPECT_EQ(board.tris(p.port) & p.tris_mask, p.tris) << "TRIS" << sim::port_name(p.port);
            EXPECT_EQ(board.pins(p.port) & p.level_mask, p.level) << "port " << sim::port_name(p.port);
        }
        EXPECT_EQ(board.peek(0xBF809060u), 0xFFFFu) << "AD1PCFG: all digital";
        EXPECT_EQ(board.peek(0xBF80F200u) & DDPCON_JTAGEN, 0u) << "JTAG off";
        EXPECT_EQ(board.peek(0xBF884000u), 0x32u) << "CHECON: 2 wait states, prefetch on";
        EXPECT_EQ(board.peek(0xBF882000u) & BMXCON_BMXWSDRM, 0u) << "no data-RAM wait state";
        EXPECT_EQ(cpu.kseg0_mode(), 3u) << "KSEG0 cacheable";
        EXPECT_EQ(board.pb_divider(), 1u) << "peripheral bus at 80 MHz";
        EXPECT_TRUE(board.violations().empty()) << board.violations().front();  // unlock used
        EXPECT_TRUE(board.peek(0xBF881000u) & INTCON_MVEC);
        EXPECT_EQ(board.peek(0xBF881090u) & (IPC0_CTIP_MASK | IPC0_CTIS_MASK), 2u << IPC0_CTIP_SHIFT);
        EXPECT_TRUE(board.peek(0xBF881060u) & IEC0_CTIE);
        EXPECT_TRUE(cpu.status() & 1u) << "interrupts enabled";
        EXPECT_EQ(board.peek(0xBF883000u) & DMACON_SUSPEND, 0u) << "DMA resumed";
    });
}

TEST(BringUp, TickRunsEveryMillisecondOnceStarted) {
    test_support::run_isolated([] {
        sim::Board board;
        sim::CompiledCpu cpu(board);
        cpu.set_vector(CORE_TIMER_VECTOR, &CoreTimerHandler);
        board.stop_at(sim::cycles_from_ms(2000));
        cpu.run([] { firmware_main(); });
        // The tick starts a few microseconds after reset: 1999 full periods in 2 s.
        EXPECT_EQ(cpu.interrupts_delivered(), 1999u);
    });
}

}  // namespace
