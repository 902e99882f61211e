// disk_*: an empty drive, drive numbers out of range, and each call handed
// to the attached device once, whole.
#include <gtest/gtest.h>

#include <vector>

#include "fatfs/diskio.h"
#include "fatfs/host/memory_disk.h"

namespace {

// A device that counts what reaches it.
class CountingDisk : public MemoryDisk {
public:
    using MemoryDisk::MemoryDisk;
    DRESULT read(BYTE* buff, DWORD sector, UINT count) override
    {
        reads.push_back(count);
        return MemoryDisk::read(buff, sector, count);
    }
    DRESULT write(const BYTE* buff, DWORD sector, UINT count) override
    {
        writes.push_back(count);
        return MemoryDisk::write(buff, sector, count);
    }
    std::vector<UINT> reads, writes;
};

TEST(Dispatch, EmptyDriveAndDriveNumbers)
{
    ASSERT_EQ(disk_attach(0, nullptr, nullptr), RES_OK);
    BYTE buf[512];
    DWORD n = 0;
    EXPECT_EQ(disk_initialize(0), STAT_NOINIT | STAT_NODISK);
    EXPECT_EQ(disk_status(0), STAT_NOINIT | STAT_NODISK);
    EXPECT_EQ(disk_read(0, buf, 0, 1), RES_NOTRDY);
    EXPECT_EQ(disk_write(0, buf, 0, 1), RES_NOTRDY);
    EXPECT_EQ(disk_ioctl(0, IOCTL_SYNC, nullptr), RES_NOTRDY);

    EXPECT_EQ(disk_attach(DISK_DRIVES, &BlockDevice::ops, nullptr), RES_PARERR);
    EXPECT_EQ(disk_initialize(DISK_DRIVES), STAT_NOINIT);
    EXPECT_EQ(disk_status(DISK_DRIVES), STAT_NOINIT);
    EXPECT_EQ(disk_read(DISK_DRIVES, buf, 0, 1), RES_PARERR);
    EXPECT_EQ(disk_write(DISK_DRIVES, buf, 0, 1), RES_PARERR);
    EXPECT_EQ(disk_ioctl(DISK_DRIVES, IOCTL_SECTOR_COUNT, &n), RES_PARERR);
}

TEST(Dispatch, OneCallPerTransferAndControlCodesRouted)
{
    CountingDisk disk(100);
    disk.set_erase_block(8);
    disk.attach(0);
    std::vector<BYTE> buf(128 * 512, 0x5A);
    ASSERT_EQ(disk_initialize(0), 0);
    EXPECT_EQ(disk_write(0, buf.data(), 3, 8), RES_OK);
    EXPECT_EQ(disk_read(0, buf.data(), 3, 8), RES_OK);
    EXPECT_EQ(disk.writes, std::vector<UINT>{8});
    EXPECT_EQ(disk.reads, std::vector<UINT>{8});

    // A zero count never reaches the device; a range outside it is refused there.
    EXPECT_EQ(disk_read(0, buf.data(), 3, 0), RES_PARERR);
    EXPECT_EQ(disk_write(0, buf.data(), 3, 0), RES_PARERR);
    EXPECT_EQ(disk.reads.size() + disk.writes.size(), 2u);
    EXPECT_EQ(disk_read(0, buf.data(), 99, 2), RES_PARERR);
    EXPECT_EQ(disk_write(0, buf.data(), 0xFFFFFFFF, 2), RES_PARERR);

    DWORD n = 0;
    WORD size = 0;
    EXPECT_EQ(disk_ioctl(0, IOCTL_SECTOR_COUNT, &n), RES_OK);
    EXPECT_EQ(n, 100u);
    EXPECT_EQ(disk_ioctl(0, IOCTL_BLOCK_SIZE, &n), RES_OK);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(disk_ioctl(0, IOCTL_SECTOR_SIZE, &size), RES_OK);
    EXPECT_EQ(size, 512);
    EXPECT_EQ(disk_ioctl(0, IOCTL_SYNC, nullptr), RES_OK);
    EXPECT_EQ(disk_ioctl(0, IOCTL_CARD_TYPE, &n), RES_PARERR) << "a memory card has no card registers";
}

// The newest device is the drive; when it goes, the one before is again.
TEST(Dispatch, DevicesLeaveTheirDrive)
{
    MemoryDisk outer(10);
    outer.attach(0);
    {
        MemoryDisk inner(20);
        inner.attach(0);
        DWORD n = 0;
        ASSERT_EQ(disk_ioctl(0, IOCTL_SECTOR_COUNT, &n), RES_OK);
        EXPECT_EQ(n, 20u);
    }
    DWORD n = 0;
    ASSERT_EQ(disk_ioctl(0, IOCTL_SECTOR_COUNT, &n), RES_OK);
    EXPECT_EQ(n, 10u);
}

}  // namespace
