// Raw image file as drive 0: capacity, access mode, and refusal of every
// transfer outside the image, which never grows the file.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fatfs/ff.h"
#include "fatfs/host/diskio_image.h"

namespace fsys = std::filesystem;

class ImageBackend : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = (fsys::temp_directory_path() / "fatimg-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        img_ = dir_ / "disk.img";
        std::vector<char> bytes(100 * 512 + 100);  // a partial sector at the end is not used
        for (std::size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<char>(i / 512);
        std::ofstream(img_, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    void TearDown() override
    {
        diskimage_close();
        fsys::remove_all(dir_);
    }
    fsys::path dir_, img_;
};

TEST_F(ImageBackend, ReadWriteInsideOnly)
{
    ASSERT_TRUE(diskimage_open(img_.c_str(), true));
    EXPECT_EQ(diskimage_sector_count(), 100u);
    EXPECT_TRUE(disk_status(0) & STAT_NOINIT);
    BYTE buf[3 * 512];
    EXPECT_EQ(disk_read(0, buf, 0, 1), RES_NOTRDY);
    EXPECT_EQ(disk_initialize(0), 0);
    EXPECT_EQ(disk_initialize(1), STAT_NOINIT);

    ASSERT_EQ(disk_read(0, buf, 97, 3), RES_OK);
    EXPECT_EQ(buf[0], 97);
    EXPECT_EQ(buf[1024], 99);
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(disk_write(0, buf, 5, 2), RES_OK);
    ASSERT_EQ(disk_read(0, buf, 6, 1), RES_OK);
    EXPECT_EQ(buf[0], 0xEE);

    const auto size = fsys::file_size(img_);
    for (auto [sector, count] : {std::pair<DWORD, BYTE> {98, 3}, {100, 1}, {0xFFFFFFFF, 2}, {0, 0}}) {
        EXPECT_EQ(disk_read(0, buf, sector, count), RES_PARERR) << sector;
        EXPECT_EQ(disk_write(0, buf, sector, count), RES_PARERR) << sector;
    }
    EXPECT_EQ(fsys::file_size(img_), size);

    DWORD n = 0;
    ASSERT_EQ(disk_ioctl(0, IOCTL_SECTOR_COUNT, &n), RES_OK);
    EXPECT_EQ(n, 100u);
    EXPECT_EQ(disk_ioctl(0, IOCTL_SYNC, nullptr), RES_OK);
    EXPECT_EQ(disk_ioctl(0, 99, nullptr), RES_PARERR);
}

TEST_F(ImageBackend, ReadOnlyImageIsWriteProtected)
{
    ASSERT_TRUE(diskimage_open(img_.c_str(), false));
    EXPECT_EQ(disk_initialize(0), STAT_PROTECT);
    BYTE buf[512] {};
    EXPECT_EQ(disk_write(0, buf, 1, 1), RES_WRPRT);
    EXPECT_EQ(disk_read(0, buf, 1, 1), RES_OK);
    EXPECT_EQ(buf[0], 1);
}

TEST_F(ImageBackend, MissingImage)
{
    EXPECT_FALSE(diskimage_open((dir_ / "none.img").c_str(), false));
    EXPECT_TRUE(disk_initialize(0) & STAT_NOINIT);
    FATFS fs {};
    f_mount(0, &fs);
    FIL f;
    EXPECT_EQ(f_open(&f, "X", FM_READ), FR_NOT_READY);
    f_mount(0, nullptr);
}

// A volume whose boot sector claims more sectors than the image holds: the
// module's writes past the end are refused and the file keeps its size.
TEST_F(ImageBackend, ModuleCannotExtendImage)
{
    const std::string cmd = "mkfs.fat -C -F 12 -s 1 " + img_.string() + ".big 400 >/dev/null 2>&1";
    if (std::system(("command -v mkfs.fat >/dev/null && " + cmd).c_str()) != 0) GTEST_SKIP() << "mkfs.fat not installed";
    fsys::resize_file(img_.string() + ".big", 64 * 1024);  // cut the volume short
    const fsys::path small = img_.string() + ".big";
    ASSERT_TRUE(diskimage_open(small.c_str(), true));
    FATFS fs {};
    f_mount(0, &fs);
    FIL f;
    ASSERT_EQ(f_open(&f, "BIG.BIN", FM_WRITE | FM_CREATE_NEW), FR_OK);
    std::vector<BYTE> data(300 * 1024, 0x5A);
    UINT bw = 0;
    EXPECT_EQ(f_write(&f, data.data(), static_cast<UINT>(data.size()), &bw), FR_DISK_ERR);
    EXPECT_LT(bw, data.size());
    f_close(&f);
    f_mount(0, nullptr);
    EXPECT_EQ(fsys::file_size(small), 64u * 1024);
}
