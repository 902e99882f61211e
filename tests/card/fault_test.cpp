// Injected card faults end in an error result, never in a hang, and leave the
// caller's buffer and the card image as described. (A missing data token is
// timed in driver_test.cpp.)
#include <gtest/gtest.h>

#include <functional>

#include "tests/card/card_bench.h"

namespace card_test {
namespace {

using sim::CardKind;

struct TransferFault {
    const char* name;
    std::function<void(sim::CardFaults&)> arm;
    bool write;
    BYTE count;
};

class TransferFaults : public CardBench, public ::testing::WithParamInterface<TransferFault> {};

TEST_P(TransferFaults, FailTheTransferButNotTheDrive) {
    const TransferFault& f = GetParam();
    insert_ready(CardKind::Sdhc);
    fill_image(100, f.count, 0x55);
    GetParam().arm(card->faults());

    std::vector<uint8_t> buf(f.count * 512u, 0xA5);
    if (f.write) {
        const std::vector<uint8_t> data = pattern_sectors(100, f.count, 0x66);
        EXPECT_EQ(disk_write(0, data.data(), 100, f.count), RES_ERROR);
    } else {
        EXPECT_EQ(disk_read(0, buf.data(), 100, f.count), RES_ERROR);
        EXPECT_EQ(buf, std::vector<uint8_t>(buf.size(), 0xA5)) << "no block arrived, none stored";
        if (last_command(18)) {
            EXPECT_NE(last_command(12), nullptr) << "an accepted multiple-block read is always stopped";
        }
    }
    EXPECT_EQ(image_sectors(100, f.count), pattern_sectors(100, f.count, 0x55));
    EXPECT_EQ(disk_status(0), 0) << "transfer failures leave the drive initialised";
    EXPECT_FALSE(chip_selected());

    // The card was left ready for the next command (a write was ended with
    // its stop token, a read with CMD12).
    if (card->powered() && !card->faults().no_card) {
        card->faults() = {};
        EXPECT_EQ(disk_read(0, buf.data(), 100, 1), RES_OK);
    }
}

const TransferFault kTransferFaults[] = {
    {"error_token_single", [](sim::CardFaults& f) { f.error_token = true; }, false, 1},
    {"error_token_multi", [](sim::CardFaults& f) { f.error_token = true; }, false, 4},
    {"rejected_single", [](sim::CardFaults& f) { f.reject_writes = true; }, true, 1},
    {"rejected_multi", [](sim::CardFaults& f) { f.reject_writes = true; }, true, 4},
    {"card_gone_read", [](sim::CardFaults& f) { f.no_card = true; }, false, 4},
    {"card_gone_write", [](sim::CardFaults& f) { f.no_card = true; }, true, 4},
};

INSTANTIATE_TEST_SUITE_P(Card, TransferFaults, ::testing::ValuesIn(kTransferFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CardBench, EmptySocketLeavesTheDriveUninitialised) {
    insert(CardKind::Sdhc);
    card->faults().no_card = true;
    EXPECT_EQ(disk_initialize(0), STAT_NOINIT);
    card.reset();  // no model at all: the data line floats high
    EXPECT_EQ(disk_initialize(0), STAT_NOINIT);
    EXPECT_EQ(board.peek(0xBF805800u) & 0x8000u, 0u) << "SPI1 switched off";
}

// A power cut after the third stored sector: later sectors are lost and the
// card answers nothing until it is powered again.
TEST_F(CardBench, PowerCutKeepsOnlyTheSectorsStoredBeforeIt) {
    insert_ready(CardKind::Sdhc);
    fill_image(200, 8, 0x77);
    card->faults().power_cut_after_writes = 3;
    const std::vector<uint8_t> data = pattern_sectors(200, 8, 0x88);
    EXPECT_EQ(disk_write(0, data.data(), 200, 8), RES_ERROR);
    EXPECT_FALSE(card->powered());
    EXPECT_EQ(card->sectors_written(), 3u);

    const std::vector<uint8_t> now = image_sectors(200, 8);
    EXPECT_EQ(std::vector<uint8_t>(now.begin(), now.begin() + 3 * 512), pattern_sectors(200, 3, 0x88));
    EXPECT_EQ(std::vector<uint8_t>(now.begin() + 3 * 512, now.end()), pattern_sectors(203, 5, 0x77));

    BYTE buf[512];
    EXPECT_EQ(disk_read(0, buf, 200, 1), RES_ERROR);

    card->faults().power_cut_after_writes.reset();
    card->power_cycle();
    ASSERT_EQ(disk_initialize(0), 0);
    ASSERT_EQ(disk_read(0, buf, 202, 1), RES_OK);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 512), pattern_sectors(202, 1, 0x88));
}

TEST_F(CardBench, PowerCutBetweenSingleSectorWrites) {
    insert_ready(CardKind::Sdsc);
    card->faults().power_cut_after_writes = 2;
    const std::vector<uint8_t> data = pattern_sectors(0, 1, 0x99);
    EXPECT_EQ(disk_write(0, data.data(), 300, 1), RES_OK);
    EXPECT_EQ(disk_write(0, data.data(), 301, 1), RES_OK);
    EXPECT_EQ(disk_write(0, data.data(), 302, 1), RES_ERROR);
    EXPECT_EQ(card->sectors_written(), 2u);
    EXPECT_EQ(image_sectors(302, 1), std::vector<uint8_t>(512, 0));
}

// Transfers that do not fit inside the card's capacity are refused before
// any command is sent.
TEST_F(CardBench, TransfersBeyondTheCardAreRefusedBeforeAnyCommand) {
    insert_ready(CardKind::Sdsc);
    const DWORD last = static_cast<DWORD>(card->sectors() - 1);
    fill_image(last, 1, 0x5C);
    std::vector<uint8_t> buf(3 * 512, 0xA5);
    const uint64_t clocked = card->bytes_clocked();
    EXPECT_EQ(disk_read(0, buf.data(), last, 3), RES_PARERR);
    EXPECT_EQ(disk_read(0, buf.data(), last + 1, 1), RES_PARERR);
    EXPECT_EQ(disk_write(0, buf.data(), last, 2), RES_PARERR);
    EXPECT_EQ(card->bytes_clocked(), clocked);
    EXPECT_EQ(buf, std::vector<uint8_t>(3 * 512, 0xA5));
    EXPECT_EQ(disk_read(0, buf.data(), last, 1), RES_OK);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 512), pattern_sectors(last, 1, 0x5C));
}

// A card whose CSD claims more than it holds: a read running past its real
// end delivers the sectors before it, the card's error token ends the
// transfer, and the result is an error.
TEST_F(CardBench, ReadRunningPastTheEndKeepsTheSectorsBeforeIt) {
    insert(CardKind::Sdhc);  // 8 MB: C_SIZE 15
    card->set_csd(csd_v2(16));
    ASSERT_EQ(disk_initialize(0), 0);
    const DWORD last = static_cast<DWORD>(card->sectors() - 1);
    fill_image(last, 1, 0x5C);
    std::vector<uint8_t> buf(3 * 512, 0xA5);
    EXPECT_EQ(disk_read(0, buf.data(), last, 3), RES_ERROR);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 512), pattern_sectors(last, 1, 0x5C));
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 512, buf.end()), std::vector<uint8_t>(2 * 512, 0xA5));
    EXPECT_NE(last_command(12), nullptr);
    EXPECT_EQ(disk_read(0, buf.data(), last + 1, 1), RES_ERROR) << "address outside the card";
    EXPECT_EQ(disk_write(0, buf.data(), last, 2), RES_ERROR);
    EXPECT_EQ(disk_read(0, buf.data(), last, 1), RES_OK);
}

}  // namespace
}  // namespace card_test
