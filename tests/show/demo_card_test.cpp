// The built-in demo card, made by tessivo-mkcard from the demo picture and
// tune, played by the firmware on the simulated board: the panel shows the
// picture converted to RGB565 by its top bits, the decoder gets the tune byte
// for byte, and every pass is heard whole.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/show/cpus.h"
#include "tests/show/show_files.h"
#include "tests/support/reference_mp3.h"

namespace fs = std::filesystem;

namespace {

using show_test::read_file;

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

// 16-bit samples of a WAV file as the decoder model writes it (44-byte header).
std::vector<int16_t> wav_samples(const std::vector<uint8_t>& wav, int& channels, long& rate) {
    if (wav.size() < 44) return {};
    channels = wav[22] | wav[23] << 8;
    rate = static_cast<long>(wav[24] | wav[25] << 8 | wav[26] << 16 | static_cast<uint32_t>(wav[27]) << 24);
    std::vector<int16_t> samples((wav.size() - 44) / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
    return samples;
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
    const std::string cmd = std::string(TESSIVO_SIM) + GetParam().args() + " --quiet --passes 2 --no-panel-png --panel-raw " +
                            (dir / "panel.raw").string() + " --sdi-dump " + (dir / "sdi.bin").string() +
                            " --audio " + (dir / "heard.wav").string();
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "no protocol violations";
    const std::vector<uint8_t> panel = read_file(dir / "panel.raw");
    const std::vector<uint8_t> sdi = read_file(dir / "sdi.bin");
    const std::vector<uint8_t> wav = read_file(dir / "heard.wav");
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

    const std::vector<uint8_t> tune = read_file(TESSIVO_DEMO_TUNE);
    std::vector<uint8_t> pass = tune;
    pass.insert(pass.end(), 2048, 0);
    std::vector<uint8_t> two_passes = pass;
    two_passes.insert(two_passes.end(), pass.begin(), pass.end());
    EXPECT_EQ(sdi, two_passes) << "each pass sends the tune byte for byte, then 2048 zeros";

    // Heard: the whole tune, the pause of the decoder reset, the whole tune.
    const test_support::Pcm reference = test_support::reference_decode(tune);
    ASSERT_FALSE(reference.samples.empty());
    int channels = 0;
    long rate = 0;
    const std::vector<int16_t> heard = wav_samples(wav, channels, rate);
    EXPECT_EQ(channels, reference.channels);
    EXPECT_EQ(rate, reference.rate);
    const size_t song = reference.samples.size();
    ASSERT_GT(heard.size(), 2 * song);
    const size_t pause = heard.size() - 2 * song;
    const auto at = [&](size_t i) { return heard.begin() + static_cast<std::ptrdiff_t>(i); };
    EXPECT_TRUE(std::equal(reference.samples.begin(), reference.samples.end(), at(0))) << "first pass heard whole";
    EXPECT_TRUE(std::all_of(at(song), at(song + pause), [](int16_t s) { return s == 0; })) << "then silence";
    EXPECT_TRUE(std::equal(reference.samples.begin(), reference.samples.end(), at(song + pause)))
        << "second pass heard whole";
    // The decoder's start-up after its reset alone takes 1.8 ms.
    const double pause_ms = 1000.0 * static_cast<double>(pause) / reference.channels / reference.rate;
    EXPECT_GT(pause_ms, 1.8);
    EXPECT_LT(pause_ms, 100.0);
}

INSTANTIATE_TEST_SUITE_P(Cpus, DemoCard, ::testing::ValuesIn(show::kCpus), show::cpu_name);

}  // namespace
