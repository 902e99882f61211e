// Control requests: capacity and erase block from the card registers, the
// registers themselves, and undefined codes.
#include <gtest/gtest.h>

#include <array>

#include "tests/card/card_bench.h"

namespace card_test {
namespace {

using sim::CardKind;
struct CountCase {
    const char* name;
    Csd csd;
    DRESULT result;
    DWORD sectors;
};

class SectorCount : public CardBench, public ::testing::WithParamInterface<CountCase> {};

TEST_P(SectorCount, ComesFromTheCsd) {
    insert_ready(CardKind::Sdhc);
    card->set_csd(GetParam().csd);
    DWORD count = 0xDEADBEEF;
    EXPECT_EQ(disk_ioctl(0, IOCTL_SECTOR_COUNT, &count), GetParam().result);
    if (GetParam().result == RES_OK) {
        EXPECT_EQ(count, GetParam().sectors);
    }
    EXPECT_FALSE(chip_selected());
}

INSTANTIATE_TEST_SUITE_P(
    Card, SectorCount,
    ::testing::Values(CountCase{"v2_8GB", csd_v2(15159), RES_OK, 15'523'840},
                      // 64 GB: C_SIZE 131,071 has its top bit in byte 7.
                      CountCase{"v2_64GB", csd_v2(131'071), RES_OK, 134'217'728},
                      CountCase{"v2_2TB", csd_v2(0x3FFEFF), RES_OK, 0xFFFC0000u},
                      CountCase{"v2_too_large_for_32_bits", csd_v2(0x3FFFFF), RES_ERROR, 0},
                      CountCase{"v1_1GB", csd_v1(9, 7, 4095), RES_OK, 2'097'152},
                      CountCase{"v1_2GB", csd_v1(10, 7, 4095), RES_OK, 4'194'304},
                      CountCase{"v1_smallest_unit", csd_v1(9, 0, 0), RES_OK, 4},
                      // READ_BL_LEN + C_SIZE_MULT + 2 below 9: units under a sector.
                      CountCase{"v1_below_a_sector", csd_v1(5, 1, 100), RES_ERROR, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct EraseCase {
    const char* name;
    CardKind kind;
    int au_size;         // SD version 2
    uint32_t write_bl;   // SD version 1 (0: the model's own CSD)
    DRESULT result;
    DWORD sectors;
};

class EraseBlock : public CardBench, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(EraseBlock, ComesFromTheSdStatusOrTheCsd) {
    const EraseCase& c = GetParam();
    insert_ready(c.kind);
    card->timing().au_size = static_cast<uint8_t>(c.au_size);
    if (c.write_bl) card->set_csd(csd_v1(9, 0, 100, c.write_bl));
    DWORD size = 0;
    EXPECT_EQ(disk_ioctl(0, IOCTL_BLOCK_SIZE, &size), c.result);
    if (c.result == RES_OK) {
        EXPECT_EQ(size, c.sectors);
    }
    EXPECT_FALSE(chip_selected());
}

INSTANTIATE_TEST_SUITE_P(Card, EraseBlock,
                         ::testing::Values(EraseCase{"sd2_au9", CardKind::Sdhc, 9, 0, RES_OK, 8192},
                                           EraseCase{"sd2_au4", CardKind::Sdsc, 4, 0, RES_OK, 256},
                                           EraseCase{"sd1_512", CardKind::SdV1, 0, 9, RES_OK, 128},
                                           EraseCase{"sd1_1024", CardKind::SdV1, 0, 10, RES_OK, 256},
                                           EraseCase{"sd1_2048", CardKind::SdV1, 0, 11, RES_OK, 512},
                                           // WRITE_BL_LEN 8: a shift by -1, no defined size.
                                           EraseCase{"sd1_256", CardKind::SdV1, 0, 8, RES_ERROR, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CardBench, ReadsTheCardRegisters) {
    insert_ready(CardKind::Sdhc);
    std::array<uint8_t, 16> reg{};
    ASSERT_EQ(disk_ioctl(0, IOCTL_READ_CSD, reg.data()), RES_OK);
    EXPECT_EQ(reg, card->csd());
    ASSERT_EQ(disk_ioctl(0, IOCTL_READ_CID, reg.data()), RES_OK);
    EXPECT_EQ(reg, card->cid());

    std::array<uint8_t, 4> ocr{};
    ASSERT_EQ(disk_ioctl(0, IOCTL_READ_OCR, ocr.data()), RES_OK);
    EXPECT_EQ(ocr[0], 0xC0) << "powered up, high capacity";

    std::array<uint8_t, 64> status{};
    ASSERT_EQ(disk_ioctl(0, IOCTL_READ_SDSTATUS, status.data()), RES_OK);
    EXPECT_EQ(status[10] >> 4, 9) << "AU_SIZE";

    WORD size = 0;
    ASSERT_EQ(disk_ioctl(0, IOCTL_SECTOR_SIZE, &size), RES_OK);
    EXPECT_EQ(size, 512);
    EXPECT_EQ(disk_ioctl(0, IOCTL_SYNC, nullptr), RES_OK);
    EXPECT_FALSE(chip_selected());
}

TEST_F(CardBench, UndefinedCodesAreParameterErrorsWithTheCardDeselected) {
    insert_ready(CardKind::Sdhc);
    DWORD out = 0;
    for (BYTE code : {4, 5, 9, 15, 255}) {
        EXPECT_EQ(disk_ioctl(0, code, &out), RES_PARERR) << int{code};
        EXPECT_FALSE(chip_selected()) << int{code};
    }
}

}  // namespace
}  // namespace card_test
