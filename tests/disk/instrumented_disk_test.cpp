// The wrapper: ranges checked before any fault, failures of each kind, and
// power cuts that keep exactly the sectors stored before them.
#include <gtest/gtest.h>

#include <vector>

#include "fatfs/host/instrumented_disk.h"
#include "fatfs/host/memory_disk.h"

namespace {

class Wrapped : public ::testing::Test {
protected:
    MemoryDisk medium{64};
    InstrumentedDisk disk{medium};
    std::vector<BYTE> data = std::vector<BYTE>(8 * 512, 0x77);
    std::vector<BYTE> buf = std::vector<BYTE>(8 * 512, 0);
};

TEST_F(Wrapped, OutsideTheMediumIsRefusedBeforeAnyFault)
{
    disk.fail_nth(DiskOp::Write, 1);
    EXPECT_EQ(disk.write(data.data(), 60, 8), RES_PARERR);
    EXPECT_EQ(disk.write(data.data(), 0, 1), RES_ERROR) << "the refusal did not use up the fault";
    EXPECT_EQ(disk.write(data.data(), 0, 1), RES_OK);
    EXPECT_EQ(disk.count(DiskOp::Write, RES_PARERR), 1u);
    EXPECT_EQ(disk.written_sectors(), std::vector<DWORD>{0});
}

TEST_F(Wrapped, FailuresOfEachKind)
{
    disk.fail_sector(DiskOp::Read, 5);
    EXPECT_EQ(disk.read(buf.data(), 2, 4), RES_ERROR);
    EXPECT_EQ(disk.read(buf.data(), 6, 2), RES_OK);

    disk.fail_ioctl(IOCTL_BLOCK_SIZE);
    DWORD n = 0;
    EXPECT_EQ(disk.erase_block(&n), RES_ERROR);
    EXPECT_EQ(disk.sector_count(&n), RES_OK);
    EXPECT_EQ(n, 64u);

    disk.clear_faults();
    disk.fail_after(2);
    EXPECT_EQ(disk.read(buf.data(), 0, 1), RES_OK);
    EXPECT_EQ(disk.write(data.data(), 0, 1), RES_OK);
    EXPECT_EQ(disk.write(data.data(), 1, 1), RES_ERROR);
    EXPECT_EQ(disk.read(buf.data(), 0, 1), RES_ERROR);
    EXPECT_EQ(disk.status(), 0) << "a disk gone bad still reads as initialised";
    disk.clear_faults();
    EXPECT_EQ(disk.read(buf.data(), 0, 1), RES_OK);

    disk.set_init_fails(true);
    EXPECT_EQ(disk.initialize(), STAT_NOINIT);
    EXPECT_EQ(disk.read(buf.data(), 0, 1), RES_NOTRDY);
    disk.set_init_fails(false);
    EXPECT_EQ(disk.initialize(), 0);
}

TEST_F(Wrapped, PowerCutKeepsTheSectorsStoredBeforeIt)
{
    disk.cut_power_after(5);
    EXPECT_EQ(disk.write(data.data(), 10, 2), RES_OK);
    EXPECT_EQ(disk.write(data.data(), 20, 8), RES_ERROR);
    EXPECT_FALSE(disk.powered());
    EXPECT_EQ(medium.stored_sectors(), (std::vector<DWORD>{10, 11, 20, 21, 22}));
    EXPECT_EQ(disk.sectors_stored(), 5u);

    EXPECT_EQ(disk.status(), STAT_NOINIT);
    EXPECT_EQ(disk.initialize(), STAT_NOINIT);
    EXPECT_EQ(disk.read(buf.data(), 10, 1), RES_NOTRDY);
    EXPECT_EQ(disk.write(data.data(), 30, 1), RES_NOTRDY);
    EXPECT_EQ(disk.sync(), RES_NOTRDY);

    disk.restore_power();
    EXPECT_EQ(disk.status(), STAT_NOINIT) << "back on, not yet initialised";
    EXPECT_EQ(disk.initialize(), 0);
    EXPECT_EQ(disk.write(data.data(), 30, 8), RES_OK) << "no cut pending any more";
}

TEST_F(Wrapped, RecordingCanBeSwitchedOff)
{
    disk.set_recording(false);
    EXPECT_EQ(disk.write(data.data(), 0, 1), RES_OK);
    EXPECT_TRUE(disk.calls().empty());
    disk.set_recording(true);
    EXPECT_EQ(disk.read(buf.data(), 0, 1), RES_OK);
    ASSERT_EQ(disk.calls().size(), 1u);
    EXPECT_EQ(disk.calls()[0].op, DiskOp::Read);
}

}  // namespace
