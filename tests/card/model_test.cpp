// The card model's own checks: the protocol violations it records when a host
// drives the bus wrongly.
#include <gtest/gtest.h>

#include <functional>

#include "platform/pic32/pic32.h"
#include "tests/card/card_bench.h"
#include "tests/support/firmware_harness.h"

namespace card_test {
namespace {

using sim::CardKind;

uint8_t spi(uint8_t b) {
    SPI1BUF = b;
    while (!(SPI1STAT & SPISTAT_SPIRBF)) {
    }
    return static_cast<uint8_t>(SPI1BUF);
}

void select_card() { PORTFCLR = 1u; }
void deselect_card() { PORTFSET = 1u; }

// Sends a command frame (dummy CRC) and returns its first response byte.
uint8_t command(uint8_t index, uint32_t arg) {
    spi(static_cast<uint8_t>(0x40 | index));
    for (int shift = 24; shift >= 0; shift -= 8) spi(static_cast<uint8_t>(arg >> shift));
    spi(0x01);
    uint8_t r = 0xFF;
    for (int i = 0; i < 10 && (r & 0x80); ++i) r = spi(0xFF);
    return r;
}

struct Misuse {
    const char* name;
    bool initialise;  // through the driver first
    std::function<void(sim::CardModel&)> act;
    const char* expected;  // part of the violation text
};

class ModelChecks : public CardBench, public ::testing::WithParamInterface<Misuse> {};

TEST_P(ModelChecks, RecordAViolation) {
    const Misuse& m = GetParam();
    expect_violations = true;
    insert(CardKind::Sdhc);
    if (m.initialise) {
        ASSERT_EQ(disk_initialize(0), 0);
    } else {
        TRISFCLR = 1u;
        SpiChnOpen(SPI_CHANNEL1, SPI_OPEN_MSTEN | SPI_OPEN_CKP_HIGH | SPI_OPEN_SMP_END, 64);
        SPI1CONSET = SPICON_ON;
    }
    ASSERT_TRUE(board.violations().empty());
    m.act(*card);
    ASSERT_EQ(board.violations().size(), 1u);
    EXPECT_NE(board.violations()[0].find(m.expected), std::string::npos) << board.violations()[0];
}

const Misuse kMisuses[] = {
    {"first_command_without_initial_clocks", false,
     [](sim::CardModel&) {
         select_card();
         spi(0x40), spi(0), spi(0), spi(0), spi(0), spi(0x95);
         spi(0xFF), spi(0xFF);
     },
     "clocks with chip select high"},
    {"spi_mode_1", true,
     [](sim::CardModel&) {
         SPI1CONCLR = SPICON_CKP;
         spi(0xFF);
     },
     "SPI mode 1"},
    {"chip_select_raised_inside_a_command", true,
     [](sim::CardModel&) {
         select_card();
         spi(0x51), spi(0);
         deselect_card();
     },
     "inside a command"},
    {"chip_select_raised_inside_a_write_block", true,
     [](sim::CardModel&) {
         select_card();
         command(24, 7);
         spi(0xFF), spi(0xFE), spi(0x12);
         deselect_card();
     },
     "inside a data block"},
    {"data_block_without_token", true,
     [](sim::CardModel&) {
         select_card();
         command(24, 7);
         spi(0xFF), spi(0x12);
     },
     "without its start token"},
    {"command_while_busy", true,
     [](sim::CardModel& card) {
         card.timing().write_busy = sim::cycles_from_ms(5);
         select_card();
         command(24, 7);
         spi(0xFF), spi(0xFE);
         for (int i = 0; i < 514; ++i) spi(0);
         spi(0xFF);  // data response
         command(17, 7);
     },
     "command sent while the card is busy"},
    {"data_token_while_busy", true,
     [](sim::CardModel& card) {
         card.timing().write_busy = sim::cycles_from_ms(5);
         select_card();
         command(25, 7);
         spi(0xFF), spi(0xFC);
         for (int i = 0; i < 514; ++i) spi(0);
         spi(0xFF);  // data response
         spi(0xFC);
     },
     "data token sent while the card is busy"},
};

INSTANTIATE_TEST_SUITE_P(Card, ModelChecks, ::testing::ValuesIn(kMisuses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CardKindNames, ParseBackToTheirKinds) {
    for (CardKind k : {CardKind::Mmc, CardKind::SdV1, CardKind::Sdsc, CardKind::Sdhc, CardKind::Sdxc})
        EXPECT_EQ(sim::parse_card_kind(sim::card_kind_name(k)), k);
    EXPECT_FALSE(sim::parse_card_kind("none").has_value());
    EXPECT_FALSE(sim::parse_card_kind("SDHC").has_value());
}

TEST(CardImage, ByteAddressedCardsStopAtFourGigabytes) {
    sim::MemoryImage big(uint64_t{8} << 30), tiny(1024);
    EXPECT_THROW({ sim::CardModel m(CardKind::Sdsc, big); }, std::invalid_argument);
    EXPECT_THROW({ sim::CardModel m(CardKind::Sdhc, tiny); }, std::invalid_argument);
    sim::CardModel fits(CardKind::Sdhc, big);
    EXPECT_EQ(fits.sectors(), (uint64_t{8} << 30) / 512);
}

}  // namespace
}  // namespace card_test

namespace card_test {
namespace {

// The card frames commands and data by its chip select: a select that changes
// while a byte is being clocked is a violation; between two bytes it is not.
TEST(CardTiming, ChipSelectChangingInsideAByteIsAViolation) {
    constexpr uint32_t kPortFClr = 0x1F886154u, kPortFSet = 0x1F886158u, kSpi1Buf = 0x1F805820u;
    const struct {
        const char* what;
        bool select_before;   // chip select low when the byte starts
        sim::Cycle after;     // cycles into the byte (96 long) when it changes
        const char* reported;  // nullptr: no violation
    } cases[] = {
        {"lowered inside a byte", false, 40, "chip select lowered while a byte was being clocked"},
        {"raised inside a byte", true, 40, "chip select raised while a byte was being clocked"},
        {"lowered after the byte", false, 96, nullptr},
        {"raised after the byte", true, 96, nullptr},
    };
    for (const auto& c : cases) {
        sim::Board board;
        sim::MemoryImage image(1u << 20);
        sim::CardModel card(CardKind::Sdsc, image);
        board.plug(card);
        board.store(0x1F886140u, 4, 0);       // TRISF: RF0 drives chip select
        board.store(0x1F886150u, 4, 1);       // deselected
        board.store(0x1F805830u, 4, 2);       // SPI1BRG: 12 cycles a bit at the reset PB clock
        board.store(0x1F805800u, 4, 0x8060);  // SPI1CON: on, mode 3, master
        if (c.select_before) board.store(kPortFClr, 4, 1);
        board.advance_to(board.now() + 10);
        board.store(kSpi1Buf, 4, 0xFF);
        board.advance_to(board.now() + c.after);
        board.store(c.select_before ? kPortFSet : kPortFClr, 4, 1);
        test_support::expect_violation(board, c.what, c.reported);
    }
}

}  // namespace
}  // namespace card_test
