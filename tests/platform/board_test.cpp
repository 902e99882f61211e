// The simulated chip's own rules: alias registers, the system unlock, SPI
// timing and the core timer.
#include <gtest/gtest.h>

#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/board.h"

namespace {

TEST(Board, PortAliasRegistersChangeOnlyTheMaskedBits) {
    sim::Board board;
    sim::CompiledCpu cpu(board);
    TRISB = 0;
    PORTB = 0x00F0;
    PORTBSET = 0x0003;
    EXPECT_EQ(board.pins(sim::Port::B), 0x00F3u);
    PORTBCLR = 0x0030;
    EXPECT_EQ(board.pins(sim::Port::B), 0x00C3u);
    PORTBINV = 0x0101;
    EXPECT_EQ(board.pins(sim::Port::B), 0x01C2u);
    TRISBSET = 0x0002;  // RB1 becomes an input: it reads what drives it, not the latch
    EXPECT_EQ(board.pins(sim::Port::B), 0x01C0u);
    board.drive(sim::Port::B, 1, true);
    EXPECT_EQ(static_cast<uint32_t>(PORTB), 0x01C2u);
    EXPECT_EQ(static_cast<uint32_t>(LATB), 0x01C2u);
}

TEST(Board, OsccconNeedsTheUnlockSequence) {
    sim::Board board;
    sim::CompiledCpu cpu(board);
    OSCCONCLR = OSCCON_PBDIV_MASK;  // locked: ignored and recorded
    EXPECT_EQ(board.pb_divider(), 2u);
    EXPECT_EQ(board.violations().size(), 1u);

    SYSKEY = SYSKEY_UNLOCK1;
    AD1PCFG = 0;  // anything between the keys spoils the sequence
    SYSKEY = SYSKEY_UNLOCK2;
    OSCCONCLR = OSCCON_PBDIV_MASK;
    EXPECT_EQ(board.pb_divider(), 2u);
    EXPECT_EQ(board.violations().size(), 2u);

    OSCSetPBDIV(OSC_PB_DIV_1);
    EXPECT_EQ(board.pb_divider(), 1u);
    EXPECT_EQ(board.violations().size(), 2u);
    OSCCONSET = OSCCON_PBDIV_MASK;  // relocked again afterwards
    EXPECT_EQ(board.pb_divider(), 1u);
}

struct Echo : sim::Model {
    int spi_channel() const override { return 2; }
    sim::SpiLink last;
    int bytes = 0;
    uint8_t exchange(uint8_t mosi, const sim::SpiLink& link) override {
        last = link;
        ++bytes;
        return static_cast<uint8_t>(~mosi);
    }
};

TEST(Board, SpiByteTakesEightClocksAndCarriesTheMode) {
    sim::Board board;
    sim::CompiledCpu cpu(board);
    Echo echo;
    board.plug(echo);
    OSCSetPBDIV(OSC_PB_DIV_1);
    SPI2CON = 0x8120;  // on, CKE, master: mode 0
    SPI2BRG = 5;       // 80 MHz / 12 = 6.67 MHz
    const sim::Cycle start = board.now();
    SPI2BUF = 0x5A;
    while (!(SPI2STAT & SPISTAT_SPIRBF)) {
    }
    EXPECT_EQ(static_cast<uint32_t>(SPI2BUF), 0xA5u);
    EXPECT_GE(board.now() - start, 8u * 12u);
    EXPECT_LE(board.now() - start, 8u * 12u + 4 * sim::CompiledCpu::kAccessCycles);
    EXPECT_EQ(echo.last.sck_hz, 80000000u / 12u);
    EXPECT_EQ(echo.last.mode(), 0);
    EXPECT_EQ(echo.bytes, 1);
}

TEST(Board, CoreTimerCountsAtHalfTheClockAndFlagsTheMatch) {
    sim::Board board;
    sim::CompiledCpu cpu(board);
    OpenCoreTimer(1000);
    const sim::Cycle start = board.now();
    while (!(IFS0 & IFS0_CTIF)) {
    }
    // 1000 counts are 2000 cycles; the polling loop jumps straight to the match.
    EXPECT_GE(board.now() - start, 2000u - 8u);
    EXPECT_LE(board.now() - start, 2000u + 8u);
    EXPECT_EQ(cpu.interrupts_delivered(), 0u) << "not enabled, not delivered";
}

}  // namespace
