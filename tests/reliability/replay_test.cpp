// Kept fuzz inputs (crashers found and fixed, and operation sequences worth
// keeping) replayed through the fuzz target bodies. Each input runs in a
// child process, so one that aborts names itself and spares the others.
// The volumes that operation sequences leave behind must pass fsck.fat -n.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fatfs/host/volume_start.h"
#include "fuzz/fuzz_disk.h"
#include "fuzz/fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> read_file(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> inputs_in(const fs::path& dir)
{
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<fs::path> fixtures(const char* target) { return inputs_in(fs::path(FIXTURES_DIR) / target); }

// The seed corpora, made afresh with mkfs.fat and mtools.
class Seeds : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = fs::temp_directory_path() / ("tessivo-seeds-" + std::to_string(getpid()));
        const std::string cmd = std::string(MAKE_SEEDS) + " " + PACK_IMAGE + " '" + dir_.string() + "' > /dev/null";
        made_ = std::system(cmd.c_str()) == 0;
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    void SetUp() override { ASSERT_TRUE(made_) << "make_seeds.sh failed"; }

    static inline fs::path dir_;
    static inline bool made_ = false;
};

// Runs `body` on the fixture in a child; an empty string when it returned.
// `after` runs in the child once the body has returned.
std::string replay(void (*body)(const uint8_t*, std::size_t), const fs::path& p, const std::function<std::string()>& after = {})
{
    const std::vector<uint8_t> data = read_file(p);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        body(data.data(), data.size());
        const std::string problem = after ? after() : "";
        if (!problem.empty()) std::fprintf(stderr, "%s\n", problem.c_str());
        std::fflush(nullptr);
        _exit(problem.empty() ? 0 : 3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    return p.filename().string() + (WIFSIGNALED(status) ? " aborted" : " failed its check");
}

TEST_F(Seeds, EverySeedRunsCleanThroughItsTarget)
{
    const std::vector<fs::path> images = inputs_in(dir_ / "mount_walk");
    EXPECT_GE(images.size(), 4u);
    for (const fs::path& p : images) EXPECT_EQ(replay(fuzz::mount_and_walk, p), "");
    for (const fs::path& p : inputs_in(dir_ / "op_sequence")) EXPECT_EQ(replay(fuzz::operation_sequence, p), "");
    for (const fs::path& p : inputs_in(dir_ / "path_parser")) EXPECT_EQ(replay(fuzz::path_parser, p), "");
}

TEST(FuzzReplay, MountAndWalk)
{
    for (const fs::path& p : fixtures("mount_walk")) EXPECT_EQ(replay(fuzz::mount_and_walk, p), "");
}

TEST(FuzzReplay, PathParser)
{
    for (const fs::path& p : fixtures("path_parser")) EXPECT_EQ(replay(fuzz::path_parser, p), "");
}

// Sequences on a disk that starts failing part-way: no crash, the error
// state holds, and the volume mounts again once the disk works.
TEST(FuzzReplay, OperationSequencesOnAFailingDisk)
{
    for (const fs::path& p : fixtures("op_sequence_faults")) EXPECT_EQ(replay(fuzz::operation_sequence, p), "");
}

TEST(FuzzReplay, OperationSequencesLeaveVolumesFsckAccepts)
{
    const fs::path image = fs::temp_directory_path() / ("tessivo-replay-" + std::to_string(getpid()) + ".img");
    for (const fs::path& p : fixtures("op_sequence")) {
        EXPECT_EQ(replay(fuzz::operation_sequence, p, [&]() -> std::string {
                      const MemoryDisk& card = fuzz::FuzzDrive::get().medium;
                      if (!card.save_raw(image, volume_start(card.sector(0))))
                          return "cannot write " + image.string();
                      const std::string cmd = "fsck.fat -n '" + image.string() + "' > /dev/null 2>&1";
                      if (std::system(cmd.c_str()) != 0)
                          return "fsck.fat -n finds damage; rerun it on " + image.string();
                      fs::remove(image);
                      return "";
                  }),
                  "");
    }
}

}  // namespace
