// A picture with known pixels and an MP3 stream go onto a card; mtools reads
// them back and fsck.fat finds the volume clean, for each card layout.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/mkcard/mkcard_support.h"

namespace mkcard_test {
namespace {

struct Layout {
    const char* name;
    std::vector<std::string> args;  // size and layout options
    uint64_t bytes;                 // expected image size
    uint64_t offset;                // volume start in the image
    const char* summary;            // what the program says it made
};

void PrintTo(const Layout& k, std::ostream* os) { *os << k.name; }

class RoundTrip : public ::testing::TestWithParam<Layout> {};

TEST_P(RoundTrip, FilesReadBackAsMadeAndVolumeIsClean)
{
    const Layout& layout = GetParam();
    ScratchDir dir;
    // Every channel value occurs, low bits included, so a wrong shift shows.
    const Picture picture = make_picture(kPanelWidth, kPanelHeight, [](uint32_t x, uint32_t y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x);
        p[1] = static_cast<uint8_t>(y * 3 + x / 256);
        p[2] = static_cast<uint8_t>(x * 7 + y);
    });
    write_rgb_png(dir.path("in.png"), picture);
    const Bytes mp3 = make_mp3(300);
    write_file(dir.path("in.mp3"), mp3);
    write_file(dir.path("card.img"), Bytes(1000, 0xAA));  // an old card is replaced

    std::vector<std::string> args = {"--picture", dir.path("in.png"), "--music", dir.path("in.mp3"),
                                     "-o", dir.path("card.img")};
    args.insert(args.end(), layout.args.begin(), layout.args.end());
    const RunResult r = run_mkcard(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, dir.path("card.img") + ": " + layout.summary + ", LOL.RAW from " + dir.path("in.png") +
                         " (800 x 480), LOL.MP3 " + std::to_string(mp3.size()) + " bytes\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"card.img", "in.mp3", "in.png"}));

    struct stat st {};
    ASSERT_EQ(::stat(dir.path("card.img").c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), layout.bytes);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, layout.bytes / 2) << "image is not sparse";

    const Bytes raw = card_file(dir.path("card.img"), layout.offset, "LOL.RAW", dir.path(""));
    EXPECT_TRUE(raw == expected_frame(picture)) << "LOL.RAW differs (" << raw.size() << " bytes)";
    const Bytes music = card_file(dir.path("card.img"), layout.offset, "LOL.MP3", dir.path(""));
    EXPECT_TRUE(music == mp3) << "LOL.MP3 differs (" << music.size() << " of " << mp3.size() << " bytes)";

    std::string report;
    EXPECT_EQ(fsck_volume(dir.path("card.img"), layout.offset, dir.path(""), &report), 0) << report;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, RoundTrip,
    ::testing::Values(Layout{"Default64MPartitioned", {}, 64ull << 20, kPartitionOffset, "FAT16"},
                      Layout{"Small16MPartitioned", {"--size", "16M"}, 16ull << 20, kPartitionOffset, "FAT12"},
                      Layout{"Small16MWholeCard", {"--size", "16M", "--sfd"}, 16ull << 20, 0,
                             "FAT12 without partition table"},
                      Layout{"Large3GWholeCard", {"--size", "3G", "--sfd"}, 3ull << 30, 0,
                             "FAT32 without partition table"},
                      Layout{"OddSizeRoundedToSectors", {"--size", "5000000"}, 4999680, kPartitionOffset, "FAT12"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace mkcard_test
