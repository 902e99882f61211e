// The card over a file image: images made by mkfs.fat and mtools read
// through the driver and the FAT module, files written that way pass
// fsck.fat, and the image file never grows.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "fatfs/ff.h"
#include "tests/card/card_bench.h"

namespace card_test {
namespace {

std::string temp_path(const char* name) {
    return ::testing::TempDir() + "card_" + std::to_string(::getpid()) + "_" + name;
}

int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::vector<uint8_t> bytes_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint64_t file_size(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

TEST(FileImage, NeverGrowsTheFile) {
    const std::string path = temp_path("small.img");
    { std::ofstream(path, std::ios::binary) << std::string(4096, 'x'); }
    std::string error;
    auto img = sim::FileImage::open(path, error);
    ASSERT_NE(img, nullptr) << error;
    const uint8_t block[512] = {};
    EXPECT_TRUE(img->write(3584, block, 512));
    EXPECT_FALSE(img->write(3585, block, 512));
    EXPECT_FALSE(img->write(4096, block, 1));
    EXPECT_FALSE(img->write(~uint64_t{0} - 10, block, 512));
    img.reset();
    EXPECT_EQ(file_size(path), 4096u);
    EXPECT_EQ(sim::FileImage::open(temp_path("missing.img"), error), nullptr);
    EXPECT_NE(error.find("missing.img"), std::string::npos);
    std::remove(path.c_str());
}

class MkfsImage : public CardBench {
protected:
    void SetUp() override {
        CardBench::SetUp();
        path = temp_path("fat16.img");
        local = temp_path("data.bin");
        std::vector<char> data(20000);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 + (i >> 9));
        std::ofstream(local, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
        std::remove(path.c_str());
        if (run("command -v mkfs.fat && command -v fsck.fat && command -v mcopy") != 0)
            GTEST_SKIP() << "mkfs.fat, fsck.fat or mtools not installed";
        ASSERT_EQ(run("mkfs.fat -C -F 16 -s 2 " + path + " 8192"), 0);
        ASSERT_EQ(run("mcopy -i " + path + " " + local + " ::DATA.BIN"), 0);
    }
    void TearDown() override {
        f_mount(0, nullptr);
        CardBench::TearDown();
        file.reset();
        std::remove(path.c_str());
        std::remove(local.c_str());
    }

    std::string path, local;
    std::unique_ptr<sim::FileImage> file;
};

TEST_F(MkfsImage, ReadsAndWritesFilesThroughTheCard) {
    std::string error;
    file = sim::FileImage::open(path, error);
    ASSERT_NE(file, nullptr) << error;
    card = std::make_unique<sim::CardModel>(sim::CardKind::Sdsc, *file);
    board.plug(*card);
    ASSERT_EQ(disk_initialize(0), 0);

    static FATFS fs;
    static FIL fil;
    ASSERT_EQ(f_mount(0, &fs), FR_OK);
    ASSERT_EQ(f_open(&fil, "DATA.BIN", FM_READ), FR_OK);
    std::vector<uint8_t> got(30000);
    UINT br = 0;
    ASSERT_EQ(f_read(&fil, got.data(), static_cast<UINT>(got.size()), &br), FR_OK);
    got.resize(br);
    EXPECT_EQ(got, bytes_of(local));
    EXPECT_EQ(f_close(&fil), FR_OK);

    std::vector<uint8_t> out(12345);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i ^ (i >> 7));
    ASSERT_EQ(f_open(&fil, "NEW.BIN", FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
    UINT bw = 0;
    ASSERT_EQ(f_write(&fil, out.data(), static_cast<UINT>(out.size()), &bw), FR_OK);
    EXPECT_EQ(bw, out.size());
    ASSERT_EQ(f_close(&fil), FR_OK);
    f_mount(0, nullptr);
    card.reset();
    file.reset();

    EXPECT_EQ(file_size(path), 8192u * 1024u);
    EXPECT_EQ(run("fsck.fat -n " + path), 0);
    const std::string copy = temp_path("new.bin");
    ASSERT_EQ(run("mcopy -n -i " + path + " ::NEW.BIN " + copy), 0);
    EXPECT_EQ(bytes_of(copy), out);
    std::remove(copy.c_str());
}

}  // namespace
}  // namespace card_test
