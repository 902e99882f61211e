// The built-in demo card, made by tessivo-mkcard from the demo picture and
// tune, played by the firmware on the simulated board: the panel shows the
// picture converted to RGB565 by its top bits, and the decoder gets the tune
// byte for byte.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cpus.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// RGB888 rows of an 8-bit RGB PNG.
bool read_rgb_png(const fs::path& path, int& w, int& h, std::vector<uint8_t>& rgb) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    w = static_cast<int>(image.width);
    h = static_cast<int>(image.height);
    rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
}

class DemoCard : public ::testing::TestWithParam<show::Cpu> {};

TEST_P(DemoCard, ShowsThePictureAndPlaysTheTuneExactly) {
    if (GetParam().image && !fs::exists(GetParam().image))
        GTEST_SKIP() << GetParam().image << " is missing (no cross compiler to build the pic32 preset)";
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(read_rgb_png(TESSIVO_DEMO_PICTURE, w, h, rgb));
    ASSERT_EQ(w, 800);
    ASSERT_EQ(h, 480);

    const fs::path dir =
        fs::temp_directory_path() / ("tessivo-demo-" + std::to_string(getpid()) + "-" + GetParam().name);
    fs::create_directories(dir);
    const std::string cmd = std::string(TESSIVO_SIM) + GetParam().args() + " --quiet --no-panel-png --panel-raw " +
                            (dir / "panel.raw").string() + " --sdi-dump " + (dir / "sdi.bin").string();
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "no protocol violations";
    const std::vector<uint8_t> panel = read_file(dir / "panel.raw");
    const std::vector<uint8_t> sdi = read_file(dir / "sdi.bin");
    fs::remove_all(dir);

    ASSERT_EQ(panel.size(), 800u * 480u * 2u);
    size_t wrong = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 800; ++x) {
            const size_t i = static_cast<size_t>(y) * 800 + x;
            const uint8_t* p = &rgb[i * 3];
            const bool square = x >= 99 && x <= 199 && y >= 99 && y <= 199;
            const uint16_t want =
                square ? 0x07E0 : static_cast<uint16_t>((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | (p[2] >> 3));
            const uint16_t got = static_cast<uint16_t>(panel[2 * i] | panel[2 * i + 1] << 8);
            wrong += got != want;
        }
    EXPECT_EQ(wrong, 0u) << "pixels that differ from the picture";
    EXPECT_EQ(sdi, read_file(TESSIVO_DEMO_TUNE)) << "one pass sends the tune byte for byte";
}

INSTANTIATE_TEST_SUITE_P(Cpus, DemoCard, ::testing::ValuesIn(show::kCpus), show::cpu_name);

}  // namespace
