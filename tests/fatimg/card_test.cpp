// fatimg on a card's block device, here a loop device over a scratch file:
// the size comes from the device, read-only commands open it read-only, and
// a mounted card is refused.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/loop_device.h"
#include "tests/support/run_command.h"

namespace {

namespace fs = std::filesystem;
using test_support::run_command;

struct Result {
    int rc = -1;
    std::string out;  // both streams
};

Result fatimg(const std::string& args)
{
    Result r;
    r.rc = run_command(std::string(FATIMG_PATH) + " " + args, &r.out);
    return r;
}

class FatimgOnACard : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/fatimg_card_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A backing file of `megabytes`, filled with 0xEE so that what is
    // written shows.
    std::string backing(const std::string& name, int megabytes)
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << std::string(static_cast<size_t>(megabytes) << 20, '\xEE');
        return path;
    }
    std::string dir_;
};

TEST_F(FatimgOnACard, FormatsAndFillsTheCardInPlace)
{
    const std::string file = backing("card", 12);
    test_support::LoopDevice card(file);
    if (!card.attached()) GTEST_SKIP() << card.why();
    const std::string dev = card.path();

    Result r = fatimg(dev + " mkfs --size 8M");
    EXPECT_EQ(r.rc, 2) << r.out;
    EXPECT_NE(r.out.find("--size cannot be used on a block device"), std::string::npos) << r.out;
    ASSERT_EQ(fatimg(dev + " mkfs --sfd").rc, 0);
    std::ofstream(dir_ + "/song") << "la la la";
    ASSERT_EQ(fatimg(dev + " put " + dir_ + "/song /LOL.MP3").rc, 0);
    r = fatimg(dev + " df");
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("FAT12"), std::string::npos) << r.out;
    r = fatimg(dev + " tree");
    EXPECT_EQ(r.out, "/LOL.MP3 8\n");

    // The writes reached the card: the independent checker reads the file behind it.
    std::string report;
    EXPECT_EQ(run_command("fsck.fat -n " + file, &report), 0) << report;
    EXPECT_EQ(run_command("MTOOLS_SKIP_CHECK=1 mtype -i " + file + " ::LOL.MP3", &report), 0);
    EXPECT_EQ(report, "la la la");
}

TEST_F(FatimgOnACard, ReadOnlyCommandsOpenTheCardReadOnly)
{
    const std::string file = backing("card", 4);
    {
        test_support::LoopDevice writable(file);
        if (!writable.attached()) GTEST_SKIP() << writable.why();
        ASSERT_EQ(fatimg(writable.path() + " mkfs --sfd").rc, 0);
        ASSERT_EQ(fatimg(writable.path() + " mkdir /D").rc, 0);
    }
    test_support::LoopDevice card(file, /*read_only=*/true);
    ASSERT_TRUE(card.attached()) << card.why();
    for (const char* args : {"ls", "tree", "df", "stat /D", "check"}) {
        const Result r = fatimg(card.path() + " " + args);
        EXPECT_NE(r.rc, 3) << args << ": " << r.out;
    }
    const Result r = fatimg(card.path() + " mkdir /E");
    EXPECT_EQ(r.rc, 3);
    EXPECT_NE(r.out.find(card.path() + ": write-protected"), std::string::npos) << r.out;
}

TEST_F(FatimgOnACard, AMountedCardIsRefused)
{
    test_support::MountedLoop mounted(backing("mounted", 8));
    if (!mounted.mounted()) GTEST_SKIP() << mounted.why();
    for (const char* args : {"mkfs", "mkdir /D"}) {
        const Result r = fatimg(mounted.device() + " " + args);
        EXPECT_EQ(r.rc, 3) << args;
        EXPECT_NE(r.out.find(mounted.device() + ": mounted at " + mounted.mount_point() + "; unmount it first"),
                  std::string::npos)
            << r.out;
    }
    EXPECT_EQ(run_command("fsck.ext2 -n " + mounted.device() + " >/dev/null"), 0) << "the file system is intact";
}

} // namespace
