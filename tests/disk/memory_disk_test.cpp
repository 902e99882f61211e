// The card in memory: any size, only what is written takes room, raw image
// files in and out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fatfs/host/memory_disk.h"

namespace {

std::vector<BYTE> sector_of(BYTE value) { return std::vector<BYTE>(512, value); }

TEST(MemoryDisk, LargestCardHoldsOnlyWhatIsWritten)
{
    MemoryDisk disk(0xFFFFFFFF);
    const std::vector<BYTE> a = sector_of(0xA1), zeros = sector_of(0);
    ASSERT_EQ(disk.write(a.data(), 0xFFFFFFFE, 1), RES_OK);
    ASSERT_EQ(disk.write(a.data(), 7, 1), RES_OK);
    ASSERT_EQ(disk.write(zeros.data(), 123456789, 1), RES_OK);
    EXPECT_EQ(disk.stored_sectors(), (std::vector<DWORD>{7, 0xFFFFFFFE}));
    std::vector<BYTE> buf(1024, 0xEE);
    ASSERT_EQ(disk.read(buf.data(), 0xFFFFFFFD, 2), RES_OK);
    EXPECT_EQ(std::vector<BYTE>(buf.begin(), buf.begin() + 512), zeros);
    EXPECT_EQ(std::vector<BYTE>(buf.begin() + 512, buf.end()), a);
    EXPECT_EQ(disk.read(buf.data(), 0xFFFFFFFE, 2), RES_PARERR);

    // Zeros written over a sector clear it; a copy is independent.
    MemoryDisk copy = disk;
    ASSERT_EQ(disk.write(zeros.data(), 7, 1), RES_OK);
    EXPECT_EQ(disk.stored_sectors(), std::vector<DWORD>{0xFFFFFFFE});
    EXPECT_EQ(copy.stored_sectors(), (std::vector<DWORD>{7, 0xFFFFFFFE}));
}

TEST(MemoryDisk, WriteProtectionAndEraseBlock)
{
    MemoryDisk disk(16);
    disk.set_write_protect(true);
    disk.set_erase_block(4);
    EXPECT_EQ(disk.initialize(), STAT_PROTECT);
    const std::vector<BYTE> a = sector_of(1);
    EXPECT_EQ(disk.write(a.data(), 0, 1), RES_WRPRT);
    EXPECT_TRUE(disk.stored_sectors().empty());
    DWORD n = 0;
    ASSERT_EQ(disk.erase_block(&n), RES_OK);
    EXPECT_EQ(n, 4u);
}

TEST(MemoryDisk, RawImageFilesFromASectorOn)
{
    const std::string path = (std::filesystem::temp_directory_path() / "memory-disk-test.img").string();
    MemoryDisk disk(100);
    for (DWORD s : {10u, 63u, 99u}) disk.store(s, sector_of(static_cast<BYTE>(s)).data());
    ASSERT_TRUE(disk.save_raw(path, 63));
    EXPECT_EQ(std::filesystem::file_size(path), 37u * 512);

    MemoryDisk back(100);
    ASSERT_TRUE(back.load_raw(path, 63));
    EXPECT_EQ(back.stored_sectors(), (std::vector<DWORD>{63, 99}));
    EXPECT_EQ(std::vector<BYTE>(back.sector(99), back.sector(99) + 512), sector_of(99));

    MemoryDisk sized;
    ASSERT_TRUE(sized.load_raw(path, 0, true));
    EXPECT_EQ(sized.sectors(), 37u);
    EXPECT_EQ(sized.stored_sectors(), (std::vector<DWORD>{0, 36}));
    std::remove(path.c_str());
    EXPECT_FALSE(sized.load_raw(path));
}

}  // namespace
