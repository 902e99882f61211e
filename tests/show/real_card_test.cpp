// A photo made into a card by tessivo-mkcard, as an image file and written
// onto a card's block device (a loop device where the machine allows one),
// played by the firmware on the simulated board: the panel is exactly the
// preview tessivo-mkcard made, and the decoder gets the song and the zeros.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/show/show_files.h"
#include "tests/support/loop_device.h"
#include "tests/support/run_command.h"
#include "tests/support/test_jpeg.h"

namespace fs = std::filesystem;

namespace {

using show_test::read_file;
using show_test::write_file;

using Bytes = std::vector<uint8_t>;

// Decoded RGB of a PNG (empty on failure).
Bytes png_pixels(const fs::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGB;
    Bytes rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    return rgb;
}

// A photo taken sideways: 480 x 640 stored, EXIF orientation 6 (to be
// turned a quarter clockwise), smooth gradients.
Bytes sideways_photo() {
    test_support::RgbPicture p{480, 640, Bytes(480 * 640 * 3)};
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x) {
            uint8_t* px = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
            px[0] = static_cast<uint8_t>(x * 255 / 479);
            px[1] = static_cast<uint8_t>(y * 255 / 639);
            px[2] = static_cast<uint8_t>(128 + 100 * std::sin((x + y) / 50.0));
        }
    test_support::JpegInput how;
    how.app1 = test_support::exif_orientation_block(6, true);
    return test_support::make_jpeg(p, how);
}

class RealCard : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tessivo-real-card-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_P(RealCard, PhotoCardPlaysAsPreviewed) {
    const bool on_a_device = GetParam();
    write_file(dir_ / "photo.jpg", sideways_photo());
    const fs::path image = dir_ / "card.img";
    std::unique_ptr<test_support::LoopDevice> loop;
    std::string card = image.string();
    if (on_a_device) {
        write_file(image, Bytes(20 << 20, 0xEE));  // an old card full of something else
        loop = std::make_unique<test_support::LoopDevice>(image.string());
        if (!loop->attached()) GTEST_SKIP() << loop->why();
        card = loop->path();
    }
    std::string out;
    const int made = test_support::run_command(
        std::string(TESSIVO_MKCARD) + " --picture " + (dir_ / "photo.jpg").string() + " --music " +
            TESSIVO_DEMO_TUNE + " -o " + card + " --fit crop --dither --preview " + (dir_ / "preview.png").string() +
            (on_a_device ? "" : " --size 16M"),
        &out);
    ASSERT_EQ(made, 0) << out;

    const int played = test_support::run_command(std::string(TESSIVO_SIM) + " --card " + card +
                                                     " --strict --quiet --panel-png " + (dir_ / "panel.png").string() +
                                                     " --sdi-dump " + (dir_ / "sdi.bin").string(),
                                                 &out);
    EXPECT_EQ(played, 0) << "a picture and music from the card, no violations: " << out;
    const Bytes panel = png_pixels(dir_ / "panel.png");
    ASSERT_EQ(panel.size(), 800u * 480u * 3u);
    EXPECT_TRUE(panel == png_pixels(dir_ / "preview.png")) << "the panel is the preview";
    Bytes pass = read_file(TESSIVO_DEMO_TUNE);
    pass.insert(pass.end(), 2048, 0);
    EXPECT_TRUE(read_file(dir_ / "sdi.bin") == pass);
}

INSTANTIATE_TEST_SUITE_P(Cards, RealCard, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "LoopDevice" : "ImageFile"); });

}  // namespace
