// Identification, sector transfers, argument checks and time-outs of the card
// driver against the card model.
#include <gtest/gtest.h>

#include "platform/pic32/pic32.h"
#include "tests/card/card_bench.h"

namespace card_test {
namespace {

using sim::CardKind;

constexpr uint64_t kMB = 1u << 20;
constexpr uint64_t kGB = uint64_t{1} << 30;

struct KindCase {
    CardKind kind;
    uint64_t image_bytes;
    BYTE card_type;
    DWORD erase_block;  // sectors
};

const KindCase kKinds[] = {
    {CardKind::Mmc, 8 * kMB, CARD_MMC, 512},                   // 32 groups of 16
    {CardKind::SdV1, 8 * kMB, CARD_SD1, 128},                  // SECTOR_SIZE 127
    {CardKind::Sdsc, 8 * kMB, CARD_SD2, 8192},                 // AU_SIZE 9
    {CardKind::Sdhc, 8 * kMB, CARD_SD2 | CARD_BLOCK, 8192},
    {CardKind::Sdxc, 64 * kGB, CARD_SD2 | CARD_BLOCK, 8192},  // needs all 22 bits of C_SIZE
};

class EachKind : public CardBench, public ::testing::WithParamInterface<KindCase> {};

TEST_P(EachKind, IsIdentifiedAndMovesSectors) {
    const KindCase& k = GetParam();
    insert_ready(k.kind, k.image_bytes);
    const bool block = (k.card_type & CARD_BLOCK) != 0;
    const bool sd = (k.card_type & CARD_SD) != 0;

    BYTE type = 0;
    DWORD count = 0, erase = 0;
    ASSERT_EQ(disk_ioctl(0, IOCTL_CARD_TYPE, &type), RES_OK);
    EXPECT_EQ(type, k.card_type);
    ASSERT_EQ(disk_ioctl(0, IOCTL_SECTOR_COUNT, &count), RES_OK);
    EXPECT_EQ(count, k.image_bytes / 512);
    ASSERT_EQ(disk_ioctl(0, IOCTL_BLOCK_SIZE, &erase), RES_OK);
    EXPECT_EQ(erase, k.erase_block);
    // Only SD version 1 and MMC get their block length set.
    EXPECT_EQ(last_command(16) != nullptr, (k.card_type & (CARD_SD1 | CARD_MMC)) != 0);

    // Reads: sector 1000 alone, then 64 sectors at once.
    fill_image(1000, 65, 0x11);
    std::vector<uint8_t> buf(64 * 512, 0);
    ASSERT_EQ(disk_read(0, buf.data(), 1000, 1), RES_OK);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 512), pattern_sectors(1000, 1, 0x11));
    ASSERT_NE(last_command(17), nullptr);
    EXPECT_EQ(last_command(17)->arg, block ? 1000u : 512000u);

    ASSERT_EQ(disk_read(0, buf.data(), 1001, 64), RES_OK);
    EXPECT_EQ(buf, pattern_sectors(1001, 64, 0x11));
    ASSERT_NE(last_command(18), nullptr);
    EXPECT_EQ(last_command(18)->arg, block ? 1001u : 1001u * 512u);
    EXPECT_NE(last_command(12), nullptr);

    // Writes: one sector, then 64 ending at the last sector of the card.
    const uint64_t tail = k.image_bytes / 512 - 64;
    const std::vector<uint8_t> one = pattern_sectors(2000, 1, 0x22);
    const std::vector<uint8_t> run = pattern_sectors(tail, 64, 0x33);
    ASSERT_EQ(disk_write(0, one.data(), 2000, 1), RES_OK);
    EXPECT_EQ(last_command(24)->arg, block ? 2000u : 2000u * 512u);
    card->clear_log();
    ASSERT_EQ(disk_write(0, run.data(), static_cast<DWORD>(tail), 64), RES_OK);
    EXPECT_EQ(image_sectors(2000, 1), one);
    EXPECT_EQ(image_sectors(tail, 64), run);
    ASSERT_NE(last_command(25), nullptr);
    const sim::CardCommand* pre_erase = last_command(23, true);
    if (sd) {
        ASSERT_NE(pre_erase, nullptr);
        EXPECT_EQ(pre_erase->arg, 64u);
    } else {
        EXPECT_EQ(pre_erase, nullptr);
        EXPECT_EQ(last_command(55), nullptr) << "MMC gets no application command";
    }

    // And back through the driver.
    ASSERT_EQ(disk_read(0, buf.data(), static_cast<DWORD>(tail), 64), RES_OK);
    EXPECT_EQ(buf, run);
    EXPECT_EQ(card->bytes_written(), 65u * 512u);
    EXPECT_FALSE(chip_selected());
}

INSTANTIATE_TEST_SUITE_P(Card, EachKind, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(sim::card_kind_name(info.param.kind)); });

// Drive 1, a zero count and calls before initialisation never reach the card.
TEST_F(CardBench, RefusedCallsCauseNoBusTraffic) {
    insert(CardKind::Sdhc);
    card->faults().no_card = true;
    EXPECT_EQ(disk_initialize(0) & STAT_NOINIT, STAT_NOINIT);
    card->faults().no_card = false;

    BYTE buf[512] = {};
    DWORD value = 0;
    uint64_t clocked = card->bytes_clocked();
    EXPECT_EQ(disk_status(0), STAT_NOINIT);
    EXPECT_EQ(disk_read(0, buf, 0, 1), RES_NOTRDY);
    EXPECT_EQ(disk_write(0, buf, 0, 1), RES_NOTRDY);
    EXPECT_EQ(disk_ioctl(0, IOCTL_SECTOR_COUNT, &value), RES_NOTRDY);
    EXPECT_EQ(disk_ioctl(0, IOCTL_SYNC, nullptr), RES_NOTRDY);
    EXPECT_EQ(card->bytes_clocked(), clocked);

    ASSERT_EQ(disk_initialize(0), 0);
    clocked = card->bytes_clocked();
    EXPECT_EQ(disk_initialize(1), STAT_NOINIT);
    EXPECT_EQ(disk_status(1), STAT_NOINIT);
    EXPECT_EQ(disk_read(1, buf, 0, 1), RES_PARERR);
    EXPECT_EQ(disk_write(1, buf, 0, 1), RES_PARERR);
    EXPECT_EQ(disk_ioctl(1, IOCTL_SECTOR_COUNT, &value), RES_PARERR);
    EXPECT_EQ(disk_read(0, buf, 0, 0), RES_PARERR);
    EXPECT_EQ(disk_write(0, buf, 0, 0), RES_PARERR);
    EXPECT_EQ(disk_status(0), 0);
    EXPECT_EQ(card->bytes_clocked(), clocked);
}

// A byte-addressed card takes sector * 512 in 32 bits: from sector 8,388,608
// on that would wrap to a low address, so whatever its CSD claims those calls
// are refused without a command.
TEST_F(CardBench, ByteAddressedCardRefusesSectorsBeyondItsAddressRange) {
    insert(CardKind::Sdsc);
    card->set_csd(csd_v2(65'535));  // claims 32 GB
    ASSERT_EQ(disk_initialize(0), 0);
    BYTE buf[1024] = {};
    const uint64_t clocked = card->bytes_clocked();
    EXPECT_EQ(disk_read(0, buf, 0x800000, 1), RES_PARERR);
    EXPECT_EQ(disk_read(0, buf, 0x7FFFFF, 2), RES_PARERR);
    EXPECT_EQ(disk_write(0, buf, 0x800000, 1), RES_PARERR);
    EXPECT_EQ(disk_write(0, buf, 0xFFFFFFFF, 2), RES_PARERR);
    EXPECT_EQ(card->bytes_clocked(), clocked);
    EXPECT_EQ(card->bytes_written(), 0u);
}

// Every transfer is checked against the capacity read at initialisation: a
// card whose CSD gives none (2 TB and more) is not brought up.
TEST_F(CardBench, CardWithoutAUsableCapacityIsNotUsed) {
    insert(CardKind::Sdhc);
    card->set_csd(csd_v2(0x3FFFFF));
    EXPECT_EQ(disk_initialize(0), STAT_NOINIT);
    EXPECT_EQ(board.peek(0xBF805800u) & SPICON_ON, 0u) << "SPI1 left on";
    EXPECT_FALSE(chip_selected());
    BYTE buf[512];
    EXPECT_EQ(disk_read(0, buf, 0, 1), RES_NOTRDY);
}

// The identification must end within 1 s of CMD0, whatever the kind.
struct IdentifyCase {
    CardKind kind;
    int idle_ms;
    bool stuck;
    bool accepted;
};

class Identification : public CardBench, public ::testing::WithParamInterface<IdentifyCase> {};

TEST_P(Identification, EndsWithinOneSecond) {
    const IdentifyCase& c = GetParam();
    insert(c.kind);
    card->timing().identify = sim::cycles_from_ms(static_cast<uint64_t>(c.idle_ms));
    card->faults().stuck_idle = c.stuck;
    DSTATUS st = 0xFF;
    const double ms = board_ms([&] { st = disk_initialize(0); });
    if (c.accepted) {
        EXPECT_EQ(st, 0);
        EXPECT_LT(ms, 1000.0);
    } else {
        EXPECT_EQ(st, STAT_NOINIT);
        EXPECT_NEAR(ms, 1000.0, 5.0);
        EXPECT_EQ(board.peek(0xBF805800u) & SPICON_ON, 0u) << "SPI1 left on";
        EXPECT_FALSE(chip_selected());
    }
}

INSTANTIATE_TEST_SUITE_P(Card, Identification,
                         ::testing::Values(IdentifyCase{CardKind::Sdhc, 950, false, true},
                                           IdentifyCase{CardKind::Sdhc, 1050, false, false},
                                           IdentifyCase{CardKind::Sdsc, 1050, false, false},
                                           IdentifyCase{CardKind::SdV1, 950, false, true},
                                           IdentifyCase{CardKind::SdV1, 1050, false, false},
                                           IdentifyCase{CardKind::Mmc, 950, false, true},
                                           IdentifyCase{CardKind::Mmc, 1050, false, false},
                                           IdentifyCase{CardKind::Sdhc, 10, true, false}),
                         [](const auto& info) {
                             const IdentifyCase& c = info.param;
                             return std::string(sim::card_kind_name(c.kind)) + "_idle_" + std::to_string(c.idle_ms) +
                                    "ms" + (c.stuck ? "_stuck" : "");
                         });

TEST_F(CardBench, WaitsHalfASecondForABusyCard) {
    insert_ready(CardKind::Sdhc);
    card->timing().write_busy = sim::cycles_from_ms(600);
    BYTE buf[512] = {};
    ASSERT_EQ(disk_write(0, buf, 10, 1), RES_OK);

    // Selecting for the next command gives up after 500 ms of busy.
    DRESULT res = RES_OK;
    EXPECT_NEAR(board_ms([&] { res = disk_read(0, buf, 10, 1); }), 500.0, 2.0);
    EXPECT_EQ(res, RES_ERROR);
    cpu.advance(sim::cycles_from_ms(100));  // busy ends at 600 ms
    EXPECT_EQ(disk_ioctl(0, IOCTL_SYNC, nullptr), RES_OK);
    EXPECT_EQ(disk_read(0, buf, 10, 1), RES_OK);
    EXPECT_EQ(disk_status(0), 0) << "a failed transfer leaves the drive initialised";
}

TEST_F(CardBench, WaitsAHundredMillisecondsForADataToken) {
    insert_ready(CardKind::Sdhc);
    card->faults().no_data_token = true;
    std::vector<uint8_t> buf(2 * 512, 0xA5);
    DRESULT res = RES_OK;
    EXPECT_NEAR(board_ms([&] { res = disk_read(0, buf.data(), 10, 1); }), 100.0, 2.0);
    EXPECT_EQ(res, RES_ERROR);
    card->clear_log();
    EXPECT_NEAR(board_ms([&] { res = disk_read(0, buf.data(), 10, 2); }), 100.0, 2.0);
    EXPECT_EQ(res, RES_ERROR);
    EXPECT_NE(last_command(12), nullptr) << "a failed multiple-block read is still stopped";
    EXPECT_EQ(buf, std::vector<uint8_t>(buf.size(), 0xA5)) << "no block arrived, none stored";
    EXPECT_EQ(disk_status(0), 0);

    card->faults().no_data_token = false;
    EXPECT_EQ(disk_read(0, buf.data(), 10, 2), RES_OK);
}

// The response must come within 10 bytes after the command.
TEST_F(CardBench, ResponseWindowIsTenBytes) {
    insert_ready(CardKind::Sdhc);
    fill_image(5, 1, 0x44);
    BYTE buf[512];
    card->timing().response_delay = 9;  // response in the 10th byte
    EXPECT_EQ(disk_read(0, buf, 5, 1), RES_OK);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 512), pattern_sectors(5, 1, 0x44));
    card->timing().response_delay = 10;  // in the 11th: missed
    EXPECT_EQ(disk_read(0, buf, 5, 1), RES_ERROR);
    EXPECT_EQ(last_command(17)->bytes_after, 10u);
}

// After CMD12 the card drives one byte that is not a response; the driver
// skips it and takes the response from the byte after.
TEST_F(CardBench, StopCommandSkipsTheStuffByte) {
    insert_ready(CardKind::Sdhc);
    BYTE buf[3 * 512];
    ASSERT_EQ(disk_read(0, buf, 20, 3), RES_OK);
    const sim::CardCommand* stop = last_command(12);
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->r1, 0x00);
    EXPECT_EQ(stop->bytes_after, 2u) << "stuff byte, then the response, then deselect";
}

}  // namespace
}  // namespace card_test
