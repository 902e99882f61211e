// The firmware on the simulated board, end to end: cards made by the
// independent FAT tools go into tessivo-sim, and what reaches the panel and
// the decoder is compared with the files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/show/cpus.h"
#include "tests/show/show_files.h"

namespace fs = std::filesystem;

namespace {

using show_test::read_file;
using show_test::write_file;

using Bytes = std::vector<uint8_t>;

int shell(const std::string& cmd) {
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool have_tools() { return shell("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null") == 0; }

// A picture with a different value in every pixel of a row.
Bytes test_picture(size_t bytes) {
    Bytes b(bytes);
    for (size_t i = 0; i < bytes; ++i) b[i] = static_cast<uint8_t>((i * 7 + i / 1600) & 0xFF);
    return b;
}

// Not a real MP3: the decoder model skips what it cannot decode, and the
// firmware passes the bytes through without looking at them.
Bytes test_music(size_t bytes) {
    Bytes b(bytes);
    std::mt19937 rng(42);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

struct SimRun {
    int exit_code = -1;
    std::string json;
    Bytes panel;  // little-endian RGB565, row 0 first
    Bytes sdi;
    uint16_t pixel(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * 800 + x) * 2;
        return static_cast<uint16_t>(panel[i] | panel[i + 1] << 8);
    }
    long number(const std::string& key) const {
        const auto at = json.find("\"" + key + "\": ");
        return at == std::string::npos ? -1 : std::atol(json.c_str() + at + key.size() + 4);
    }
};

using show::Cpu;

class Show : public ::testing::TestWithParam<Cpu> {
protected:
    void SetUp() override {
        if (!have_tools()) {
            GTEST_SKIP() << "mkfs.fat and mtools are needed";
        }
        if (GetParam().image && !fs::exists(GetParam().image)) {
            GTEST_SKIP() << GetParam().image << " is missing (no cross compiler to build the pic32 preset)";
        }
        dir_ = fs::temp_directory_path() / ("tessivo-show-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    // A FAT volume made by mkfs.fat with `files` copied on by mcopy;
    // `mkfs_args` chooses the type and geometry. With `partition_at` (in
    // sectors) the volume sits in the first partition of an MBR.
    fs::path make_card(const std::string& mkfs_args, uint64_t megabytes,
                       const std::vector<std::pair<std::string, Bytes>>& files, const std::string& attrib = "",
                       uint32_t partition_at = 0) {
        const fs::path img = dir_ / "card.img";
        fs::remove(img);
        EXPECT_EQ(shell("truncate -s " + std::to_string(megabytes) + "M " + img.string()), 0);
        std::string where = img.string();
        if (partition_at) {
            write_partition_table(img, partition_at, static_cast<uint32_t>(megabytes * 2048 - partition_at),
                                  mkfs_args.find("-F 32") != std::string::npos ? 0x0C : 0x06);
            EXPECT_EQ(shell("mkfs.fat --offset " + std::to_string(partition_at) + " " + mkfs_args + " " +
                            img.string() + " " + std::to_string((megabytes * 2048 - partition_at) / 2) +
                            " >/dev/null"),
                      0);
            where += "@@" + std::to_string(uint64_t{partition_at} * 512);
        } else {
            EXPECT_EQ(shell("mkfs.fat " + mkfs_args + " " + img.string() + " >/dev/null"), 0);
        }
        for (const auto& [name, bytes] : files) {
            const fs::path local = dir_ / name;
            write_file(local, bytes);
            EXPECT_EQ(shell("mcopy -i " + where + " " + local.string() + " ::" + name), 0);
        }
        if (!attrib.empty()) {
            EXPECT_EQ(shell("mattrib -i " + where + " " + attrib), 0);
        }
        return img;
    }

    // One primary partition of type `type` from sector `first`, `count` sectors long.
    static void write_partition_table(const fs::path& img, uint32_t first, uint32_t count, uint8_t type) {
        uint8_t mbr[512] = {};
        uint8_t* e = mbr + 446;
        e[4] = type;
        for (int i = 0; i < 4; ++i) {
            e[8 + i] = static_cast<uint8_t>(first >> (8 * i));
            e[12 + i] = static_cast<uint8_t>(count >> (8 * i));
        }
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
        std::fstream f(img, std::ios::binary | std::ios::in | std::ios::out);
        f.write(reinterpret_cast<const char*>(mbr), sizeof mbr);
    }

    static std::string cpu_args() { return GetParam().args(); }

    SimRun run_sim(const std::string& card_args, int passes) {
        SimRun r;
        const fs::path raw = dir_ / "panel.raw", sdi = dir_ / "sdi.bin", json = dir_ / "report.json";
        const std::string cmd = std::string(TESSIVO_SIM) + cpu_args() + " " + card_args + " --passes " + std::to_string(passes) +
                                " --max-seconds 120 --quiet --no-panel-png --panel-raw " + raw.string() +
                                " --sdi-dump " + sdi.string() + " --report-json " + json.string();
        r.exit_code = shell(cmd);
        r.panel = read_file(raw);
        r.sdi = read_file(sdi);
        const Bytes j = read_file(json);
        r.json.assign(j.begin(), j.end());
        return r;
    }

    // What the panel must show for picture file `file`: pixel k from bytes
    // 2k and 2k+1 while the file lasts, then the last pixel formed (an odd
    // final byte replaces only the low byte), with the green square on top.
    static std::vector<uint16_t> expected_panel(const Bytes& file) {
        std::vector<uint16_t> px(800 * 480);
        uint8_t lo = 0, hi = 0;
        for (size_t k = 0; k < px.size(); ++k) {
            if (2 * k < file.size()) lo = file[2 * k];
            if (2 * k + 1 < file.size()) hi = file[2 * k + 1];
            px[k] = static_cast<uint16_t>(lo | hi << 8);
        }
        for (int y = 99; y <= 199; ++y)
            for (int x = 99; x <= 199; ++x) px[static_cast<size_t>(y) * 800 + x] = 0x07E0;
        return px;
    }

    static void expect_panel(const SimRun& r, const std::vector<uint16_t>& want) {
        ASSERT_EQ(r.panel.size(), 800u * 480u * 2u);
        size_t wrong = 0, first = 0;
        for (size_t k = 0; k < want.size(); ++k)
            if (r.pixel(static_cast<int>(k % 800), static_cast<int>(k / 800)) != want[k] && wrong++ == 0) first = k;
        EXPECT_EQ(wrong, 0u) << "first wrong pixel at column " << first % 800 << ", row " << first / 800;
    }

    // What the decoder receives in `passes` passes of `music`: each pass the
    // file, then the 2048 zeros that let the decoder play out its end.
    static Bytes played(const Bytes& music, int passes) {
        Bytes out;
        for (int i = 0; i < passes; ++i) {
            out.insert(out.end(), music.begin(), music.end());
            out.insert(out.end(), 2048, 0);
        }
        return out;
    }

    fs::path dir_;
};

TEST_P(Show, PlaysCardsOfEveryFatTypePixelForPixelAndByteForByte) {
    const Bytes picture = test_picture(768000 + 100);  // bytes past the frame are never read
    const Bytes music = test_music(20000 + 17);
    const struct {
        const char* mkfs;
        int megabytes;
        const char* card_type;
        uint32_t partition_at;  // sectors; 0: no partition table
    } cards[] = {
        {"-F 12 -s 8", 4, "sdv1", 0},
        {"-F 16 -s 4 -f 1", 16, "mmc", 0},
        {"-F 16 -s 2", 16, "sdsc", 63},
        {"-F 32 -s 1", 40, "sdhc", 0},
        {"-F 32 -s 1", 40, "sdxc", 2048},
    };
    for (const auto& c : cards) {
        SCOPED_TRACE(std::string(c.mkfs) + " " + c.card_type + (c.partition_at ? " partitioned" : ""));
        const fs::path img =
            make_card(c.mkfs, c.megabytes, {{"LOL.RAW", picture}, {"LOL.MP3", music}}, "", c.partition_at);
        const SimRun r = run_sim("--card " + img.string() + " --card-type " + c.card_type, 2);
        EXPECT_EQ(r.exit_code, 0) << r.json;
        expect_panel(r, expected_panel(Bytes(picture.begin(), picture.begin() + 768000)));
        EXPECT_EQ(r.sdi, played(music, 2)) << "two passes, each the whole file and the zeros";
        EXPECT_EQ(r.number("violations"), 0) << r.json;
        EXPECT_EQ(r.number("passes"), 2);
    }
}

TEST_P(Show, FailureCasesRunAsTheBoardWould) {
    const Bytes music64 = test_music(64 * 32);  // a multiple of 32: one extra, empty read ends the pass
    const Bytes short_picture = test_picture(1001);  // 500 pixels and a lone low byte
    const std::vector<uint16_t> uniform0 = expected_panel(Bytes{});

    // No card: the untouched (cleared) buffer on the whole panel, silence.
    SimRun r = run_sim("--card-type none", 2);
    EXPECT_EQ(r.exit_code, 0);
    expect_panel(r, uniform0);
    EXPECT_TRUE(r.sdi.empty());
    EXPECT_EQ(r.number("passes"), 2);

    // Missing picture: created empty, uniform panel; the music plays.
    fs::path img = make_card("-F 16", 16, {{"LOL.MP3", music64}});
    r = run_sim("--card " + img.string(), 1);
    expect_panel(r, uniform0);
    EXPECT_EQ(r.sdi, played(music64, 1));
    EXPECT_GT(r.number("card_bytes_written"), 0) << "the missing file is created";
    EXPECT_NE(shell("mdir -i " + img.string() + " ::LOL.RAW >/dev/null 2>&1"), 0)
        << "the image file itself is never changed: writes stay in the simulator's memory";
    EXPECT_NE(r.json.find("LOL.RAW is missing: the board creates it, empty, on the card, and shows one colour."),
              std::string::npos)
        << r.json;

    // A short picture with an odd length; the music is missing (silence).
    img = make_card("-F 12", 4, {{"LOL.RAW", short_picture}});
    r = run_sim("--card " + img.string(), 2);
    expect_panel(r, expected_panel(short_picture));
    EXPECT_TRUE(r.sdi.empty());
    EXPECT_EQ(r.number("passes"), 2);
    EXPECT_EQ(r.number("empty_passes"), 2);
    EXPECT_EQ(r.number("violations"), 0);
    EXPECT_NE(r.json.find("LOL.RAW holds 1001 bytes, less than a whole picture"), std::string::npos) << r.json;
    EXPECT_NE(r.json.find("LOL.MP3 is missing: the board creates it, empty, on the card, and plays nothing."),
              std::string::npos)
        << r.json;

    // A read-only music file cannot be opened for writing: silence.
    img = make_card("-F 16", 16, {{"LOL.RAW", short_picture}, {"LOL.MP3", music64}}, "+r ::LOL.MP3");
    r = run_sim("--card " + img.string(), 2);
    EXPECT_TRUE(r.sdi.empty());
    EXPECT_NE(r.json.find("LOL.MP3 is read-only: the board opens it for writing, cannot, and plays nothing."),
              std::string::npos)
        << r.json;

    // Not a FAT volume at all: as with no card, and the run still ends well.
    img = dir_ / "noise.img";
    write_file(img, test_music(4 << 20));
    r = run_sim("--card " + img.string(), 1);
    EXPECT_EQ(r.exit_code, 0);
    expect_panel(r, uniform0);
    EXPECT_TRUE(r.sdi.empty());
    EXPECT_NE(r.json.find("No FAT volume on the card: the board shows one colour and plays nothing."),
              std::string::npos)
        << r.json;
    EXPECT_NE(shell(std::string(TESSIVO_SIM) + " --card " + img.string() + " --strict --quiet --no-panel-png 2>/dev/null"), 0)
        << "--strict fails a card that gives neither picture nor music";
}

TEST_P(Show, ACardThatIsNotAFileGivesAClearMessage) {
    const int code = shell(std::string(TESSIVO_SIM) + cpu_args() + " --card " + (dir_ / "missing.img").string() +
                           " --quiet 2>" + (dir_ / "err.txt").string());
    EXPECT_EQ(code, 2);
    const Bytes err = read_file(dir_ / "err.txt");
    EXPECT_NE(std::string(err.begin(), err.end()).find("missing.img"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cpus, Show, ::testing::ValuesIn(show::kCpus), show::cpu_name);

}  // namespace
