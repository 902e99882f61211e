// tessivo-sim's command line: what a user types wrong gets one clear line
// and exit status 2; --help is not an error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/run_command.h"

namespace {

struct Result {
    int status;
    std::string output;
};

// tessivo-sim with `args`: its exit status and everything it printed.
Result run(const std::string& args) {
    Result r{-1, {}};
    r.status = test_support::run_command(std::string(TESSIVO_SIM) + " " + args, &r.output);
    return r;
}

TEST(SimCommandLine, MistakesGiveOneLineAndStatusTwo) {
    const struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"--frobnicate", "unknown option '--frobnicate'"},
        {"--passes", "--passes needs a value"},
        {"--passes 0", "--passes '0'"},
        {"--passes two", "--passes 'two'"},
        {"--max-seconds -1", "--max-seconds '-1'"},
        {"--card-type floppy", "--card-type 'floppy'"},
        {"--card /nonexistent/card.img", "/nonexistent/card.img: No such file or directory"},
        {"--card-type none --quiet --panel-png /nonexistent/p.png",
         "/nonexistent/p.png: cannot write the panel picture: No such file or directory"},
        {"--profile p.txt", "--profile and --trace need --image"},
        {"--image x.elf --trace-from 2 --trace-to 1", "--trace-to is before --trace-from"},
        {"--image x.elf --trace-from -1", "--trace-from '-1'"},
        {"--card /dev/null", "/dev/null: a character device, not a disk image or a card"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << " printed: " << r.output;
        EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << c.args << ": one line, printed: " << r.output;
    }
}

// Copies of the real image with one change each, for the refusal table.
class ImageFiles {
public:
    ImageFiles() : dir_(std::filesystem::temp_directory_path() / ("tessivo-cli-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(dir_);
        std::ifstream in(TESSIVO_IMAGE, std::ios::binary);
        elf_.assign(std::istreambuf_iterator<char>(in), {});
    }
    ~ImageFiles() { std::filesystem::remove_all(dir_); }
    bool have_image() const { return elf_.size() > 52; }

    // The image with `change` applied, written to a file named `name`.
    std::string variant(const std::string& name, const std::function<void(std::vector<uint8_t>&)>& change) {
        std::vector<uint8_t> bytes = elf_;
        change(bytes);
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    static uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
    }
    static void put_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }

private:
    std::filesystem::path dir_;
    std::vector<uint8_t> elf_;
};

// Refused before anything runs: unfit images, outputs that cannot be written.
TEST(SimCommandLine, ImagesThatCannotRunAreRefusedWithOneLine) {
    ImageFiles files;
    if (!files.have_image()) GTEST_SKIP() << TESSIVO_IMAGE " is missing (no cross compiler)";
    const auto first_load_paddr = [](std::vector<uint8_t>& b) { return ImageFiles::u32(b, 28) + 12; };
    const struct {
        std::string file;
        const char* says;
    } cases[] = {
        {files.variant("text.elf", [](std::vector<uint8_t>& b) { b.assign({'h', 'e', 'l', 'l', 'o', '\n'}); }),
         "text.elf: not an ELF file"},
        {files.variant("big.elf", [](std::vector<uint8_t>& b) { b[5] = 2; }), "big.elf: not a little-endian"},
        {files.variant("outside.elf",
                       [&](std::vector<uint8_t>& b) { ImageFiles::put_u32(b, first_load_paddr(b), 0x20000000u); }),
         "outside the chip's"},
        {"/nonexistent/tessivo.elf", "/nonexistent/tessivo.elf: cannot open the file"},
        {std::string(TESSIVO_IMAGE) + " --profile /nonexistent/p.txt", "/nonexistent/p.txt: cannot write the profile"},
        {std::string(TESSIVO_IMAGE) + " --trace /nonexistent/t.txt", "/nonexistent/t.txt: cannot write the trace"},
    };
    for (const auto& c : cases) {
        const Result r = run("--image " + c.file + " --card-type none --quiet --no-panel-png");
        EXPECT_EQ(r.status, 2) << c.file;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.file << " printed: " << r.output;
        EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << c.file << ": one line, printed: " << r.output;
    }
}

TEST(SimCommandLine, ConfigurationThatStopsTheBoardIsAViolation) {
    ImageFiles files;
    if (!files.have_image()) GTEST_SKIP() << TESSIVO_IMAGE " is missing (no cross compiler)";
    // DEVCFG1 as shipped, with the watchdog turned on.
    const std::string watchdog = files.variant("watchdog.elf", [](std::vector<uint8_t>& b) {
        for (size_t at = 0; at + 4 <= b.size(); ++at)
            if (ImageFiles::u32(b, at) == 0xFF60DA5Bu) ImageFiles::put_u32(b, at, 0xFFE0DA5Bu);
    });
    const Result r = run("--image " + watchdog +
                         " --card-type none --max-seconds 0.01 --quiet --no-panel-png --report-json /dev/stdout");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("FWDTEN turns the watchdog on"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"cpu\": \"m4k\""), std::string::npos) << r.output;
}

TEST(SimCommandLine, ProfileAndTraceFollowTheImage) {
    if (!std::filesystem::exists(TESSIVO_IMAGE)) GTEST_SKIP() << TESSIVO_IMAGE " is missing (no cross compiler)";
    const auto dir = std::filesystem::temp_directory_path() / ("tessivo-cli-prof-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string profile = (dir / "profile.txt").string(), trace = (dir / "trace.txt").string();
    const Result r = run(std::string("--image ") + TESSIVO_IMAGE + " --card-type none --max-seconds 0.2 --profile " +
                         profile + " --trace " + trace +
                         " --trace-from 0.1 --trace-to 0.1001 --quiet --no-panel-png --report-json /dev/stdout");
    EXPECT_EQ(r.status, 0) << r.output;
    std::ifstream p(profile), t(trace);
    std::string line;
    unsigned long long cycles_sum = 0;
    bool saw_main = false;
    std::getline(p, line);  // column heads
    while (std::getline(p, line)) {
        cycles_sum += std::stoull(line);
        saw_main = saw_main || line.find("  main") != std::string::npos;
    }
    EXPECT_TRUE(saw_main);
    EXPECT_NE(r.output.find("\"cycles\": " + std::to_string(cycles_sum)), std::string::npos)
        << "the profile accounts for every cycle: " << cycles_sum << " in " << r.output;

    std::getline(t, line);  // column heads
    unsigned long long first = 0, last = 0, lines = 0;
    while (std::getline(t, line)) {
        last = std::stoull(line);
        if (lines++ == 0) first = last;
    }
    EXPECT_GE(first, 8'000'000u);
    EXPECT_LE(last, 8'008'000u);
    EXPECT_GT(lines, 1000u) << "an instruction a cycle or two";
    std::filesystem::remove_all(dir);
}

TEST(SimCommandLine, HelpListsTheOptionsAndVersionSaysWhichOne) {
    const Result r = run("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"--card", "--card-type", "--passes", "--max-seconds", "--panel-png", "--panel-raw",
                               "--sdi-dump", "--audio", "--report-json", "--quiet", "--strict", "--version", "--image",
                               "--profile", "--trace", "--trace-from", "--trace-to"})
        EXPECT_NE(r.output.find(option), std::string::npos) << option;
    const Result v = run("--version");
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.output.rfind("tessivo-sim (tessivo) ", 0), 0u) << v.output;
}

// Every output is checked before the board starts: a wrong one ends the
// program at once, and no other output is written.
TEST(SimCommandLine, OutputsAreCheckedBeforeTheRun) {
    const std::string dir = ::testing::TempDir() + "sim-outputs-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    {
        std::ofstream card(dir + "/card.img", std::ios::binary);
        card << std::string(1 << 20, '\0');
    }
    const std::string good = " --audio " + dir + "/heard.wav";
    const struct {
        std::string args;
        std::string says;
    } cases[] = {
        {"--sdi-dump /nonexistent/sdi.bin", "/nonexistent/sdi.bin: cannot write the SDI bytes: No such file or directory"},
        {"--report-json " + dir, dir + ": cannot write the report: Is a directory"},
        {"--panel-raw " + dir + "/card.img", dir + "/card.img: cannot write the panel RGB565: it is the card image"},
        {"--panel-raw " + dir + "/card.img/x", dir + "/card.img/x: cannot write the panel RGB565: Not a directory"},
        {"--panel-raw " + dir + "/same --sdi-dump " + dir + "/same", dir + "/same: given for the panel RGB565 and the SDI bytes"},
    };
    for (const auto& c : cases) {
        const Result r = run("--card " + dir + "/card.img --no-panel-png " + c.args + good);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.output, "tessivo-sim: " + c.says + "\n") << c.args;
        EXPECT_FALSE(std::filesystem::exists(dir + "/heard.wav")) << c.args << ": the run went ahead";
    }
    std::filesystem::remove_all(dir);
}

// --strict fails a run in which the board showed no picture from the card
// or sent no music, and says which; the demo card passes.
TEST(SimCommandLine, StrictRunsNeedAPictureAndMusicFromTheCard) {
    const struct {
        const char* args;
        int status;
        std::vector<std::string> says;
    } cases[] = {
        {"--card-type none", 1,
         {"--strict: the board showed no picture from the card", "--strict: the board sent no music"}},
        {"", 0, {}},
    };
    for (const auto& c : cases) {
        const Result r = run(std::string(c.args) + " --strict --quiet --no-panel-png");
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.output;
        for (const std::string& line : c.says) EXPECT_NE(r.output.find(line), std::string::npos) << r.output;
    }
}

// Passes without music are one counter, whatever their number; the text
// gives bring-up and picture time apart, and its ratio from the same numbers
// as the JSON.
TEST(SimCommandLine, ReportCountsEmptyPassesAndSplitsThePictureTime) {
    const Result r = run("--card-type none --max-seconds 3 --quiet --no-panel-png --report-json /dev/stdout");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto number = [&](const std::string& key) {
        const size_t at = r.output.find("\"" + key + "\": ");
        return at == std::string::npos ? -1.0 : std::atof(r.output.c_str() + at + key.size() + 4);
    };
    EXPECT_GT(number("passes"), 100);
    EXPECT_EQ(number("empty_passes"), number("passes"));
    EXPECT_NE(r.output.find("\"pass_seconds\": []"), std::string::npos);

    const Result text = run("--card-type none --max-seconds 3 --no-panel-png");
    EXPECT_LT(std::count(text.output.begin(), text.output.end(), '\n'), 15) << text.output;
    const std::string empty_line = "  empty       " + std::to_string(static_cast<long>(number("passes"))) + " pass(es)";
    EXPECT_NE(text.output.find(empty_line), std::string::npos) << text.output;
    char bringup[32], picture[32], ratio[32];
    std::snprintf(bringup, sizeof bringup, "bring-up    %.1f ms", number("bringup_ms"));
    std::snprintf(picture, sizeof picture, "picture     %.1f ms", number("picture_ms"));
    std::snprintf(ratio, sizeof ratio, "ratio %.2f", number("picture_ms") / number("picture_bound_ms"));
    EXPECT_GT(number("bringup_ms"), 0);
    for (const char* s : {bringup, picture, ratio}) EXPECT_NE(text.output.find(s), std::string::npos) << s << "\n" << text.output;
}

TEST(SimCommandLine, EmptySocketRunsTheRequestedPasses) {
    const Result r = run("--card-type none --passes 3 --quiet --no-panel-png --report-json /dev/stdout");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\"passes\": 3"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"violations\": 0"), std::string::npos) << r.output;
}

TEST(SimCommandLine, BoardTimeAloneEndsTheRunWhenOnlyItIsGiven) {
    // With an empty socket a pass takes a few milliseconds: 2 s hold hundreds.
    for (const char* args : {"--max-seconds 2", "--passes 1000000 --max-seconds 2"}) {
        const Result r = run(std::string("--card-type none ") + args +
                             " --quiet --no-panel-png --report-json /dev/stdout");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("\"board_seconds\": 2.000"), std::string::npos) << args << ": " << r.output;
    }
}

}  // namespace
