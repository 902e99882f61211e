// tessivo-mkcard writing a card's block device, here a loop device over a
// scratch file: made in place with the card's own size and flushed; refused
// while mounted or write-protected; a card that cannot be made is left as
// it was.
#include <gtest/gtest.h>

#include "tests/mkcard/mkcard_support.h"
#include "tests/support/loop_device.h"
#include "tests/support/run_command.h"

namespace mkcard_test {
namespace {

class MkcardOnACard : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_rgb_png(dir.path("pic.png"), make_picture(40, 24, [](uint32_t x, uint32_t y, uint8_t* p) {
                          p[0] = static_cast<uint8_t>(x * 6);
                          p[1] = static_cast<uint8_t>(y * 10);
                          p[2] = 99;
                      }));
        write_file(dir.path("tune.mp3"), make_mp3(40));
    }
    // A backing file of `bytes` filled with 0xEE, so that what is written shows.
    std::string backing(uint64_t bytes)
    {
        write_file(dir.path("card"), Bytes(bytes, 0xEE));
        return dir.path("card");
    }
    std::vector<std::string> args(const std::string& card, std::vector<std::string> extra = {},
                                  const std::string& music = "tune.mp3")
    {
        std::vector<std::string> a = {"--picture", dir.path("pic.png"), "--music", dir.path(music), "-o", card};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
    ScratchDir dir;
};

TEST_F(MkcardOnACard, IsMadeInPlaceWithItsOwnSize)
{
    const std::string file = backing(24ull << 20);
    test_support::LoopDevice card(file);
    if (!card.attached()) GTEST_SKIP() << card.why();
    const RunResult r = run_mkcard(args(card.path(), {"--preview", dir.path("preview.png")}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.rfind(card.path() + ": FAT12, LOL.RAW from", 0), 0u) << r.out;

    // Read back from the file behind the card by the independent tools.
    const Bytes raw = card_file(file, kPartitionOffset, "LOL.RAW", dir.path(""));
    ASSERT_EQ(raw.size(), kPanelWidth * kPanelHeight * 2u);
    EXPECT_TRUE(read_png_rgb(dir.path("preview.png")).rgb == board_view(raw).rgb);
    EXPECT_TRUE(card_file(file, kPartitionOffset, "LOL.MP3", dir.path("")) == make_mp3(40));
    std::string report;
    EXPECT_EQ(fsck_volume(file, kPartitionOffset, dir.path(""), &report), 0) << report;
    EXPECT_EQ(read_file(file).size(), 24ull << 20);
}

TEST_F(MkcardOnACard, IsLeftAsItWasWhenItCannotBeMade)
{
    const Bytes untouched(2ull << 20, 0xEE);
    write_file(dir.path("long.mp3"), make_mp3(8000));  // more than the card holds
    const struct {
        const char* name;
        bool read_only;
        const char* music;
        std::vector<std::string> extra;
        const char* says;
    } cases[] = {
        {"a size of its own", false, "tune.mp3", {"--size", "1M"}, ": a card takes its own size (2M); leave out --size"},
        {"files too large", false, "long.mp3", {}, ": card size 2M too small for the files (LOL.MP3 needs"},
        {"write-protected", true, "tune.mp3", {}, ": write-protected"},
    };
    for (const auto& c : cases) {
        const std::string file = backing(untouched.size());
        test_support::LoopDevice card(file, c.read_only);
        if (!card.attached()) GTEST_SKIP() << card.why();
        const std::vector<std::string> a = args(card.path(), c.extra, c.music);
        const RunResult r = run_mkcard(a);
        EXPECT_EQ(r.exit_code, 1) << c.name;
        EXPECT_NE(r.err.find(card.path() + c.says), std::string::npos) << c.name << ": " << r.err;
        EXPECT_TRUE(read_file(file) == untouched) << c.name << ": the card was written";
    }
}

TEST_F(MkcardOnACard, AMountedCardIsRefused)
{
    test_support::MountedLoop mounted(backing(8ull << 20));
    if (!mounted.mounted()) GTEST_SKIP() << mounted.why();
    const RunResult r = run_mkcard(args(mounted.device()));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "tessivo-mkcard: " + mounted.device() + ": mounted at " + mounted.mount_point() +
                         "; unmount it first\n");
    EXPECT_EQ(test_support::run_command("fsck.ext2 -n " + mounted.device()), 0) << "the file system is intact";
}

} // namespace
} // namespace mkcard_test
