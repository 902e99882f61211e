// The image file opened sparse: sectors written as zeros leave holes, and
// everything reads back as written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fatfs/host/image_disk.h"

namespace {

// Bytes the file takes on the host's disk.
long long allocated(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_blocks) * 512 : -1;
}

TEST(ImageDisk, SparseImageStaysSparse)
{
    const std::string path = (std::filesystem::temp_directory_path() / ("image-disk-" + std::to_string(getpid()) + ".img")).string();
    const std::size_t size = 16u << 20;
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
        std::filesystem::resize_file(path, size);
    }
    ImageDisk disk;
    ASSERT_TRUE(disk.open(path.c_str(), true, true));
    ASSERT_EQ(disk.initialize(), 0);

    // Fill it with data, then clear all of it again: what it takes shrinks back.
    std::vector<BYTE> data(128 * 512, 0x3C), zeros(128 * 512, 0);
    for (DWORD s = 0; s < size / 512; s += 128) ASSERT_EQ(disk.write(data.data(), s, 128), RES_OK);
    const long long full = allocated(path);
    for (DWORD s = 0; s < size / 512; s += 128) ASSERT_EQ(disk.write(zeros.data(), s, 128), RES_OK);
    if (allocated(path) == full) {
        std::remove(path.c_str());
        GTEST_SKIP() << "the file system under " << path << " keeps no holes";
    }
    EXPECT_LT(allocated(path), full / 8);

    // A mixed write: the data sectors arrive, the zero ones read as zeros.
    std::vector<BYTE> mixed(3 * 512, 0);
    std::fill(mixed.begin() + 512, mixed.begin() + 1024, 0x99);
    ASSERT_EQ(disk.write(data.data(), 1000, 3), RES_OK);
    ASSERT_EQ(disk.write(mixed.data(), 1000, 3), RES_OK);
    std::vector<BYTE> back(3 * 512);
    ASSERT_EQ(disk.read(back.data(), 1000, 3), RES_OK);
    EXPECT_EQ(back, mixed);
    disk.close();
    EXPECT_EQ(std::filesystem::file_size(path), size);
    std::remove(path.c_str());
}

}  // namespace
