// Host programs on bad input: damaged images (empty, truncated, not whole
// sectors, garbage), forbidden characters and very long paths. Each case ends
// with a message and a non-zero exit (never a crash or a sanitizer report),
// and a command that only reads leaves the image exactly as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;       // exit status; -1 when killed by a signal
    std::string output;    // standard output and error together
};

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Outcome run(const std::string& cmd)
{
    Outcome o;
    FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return o;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) o.output.append(buf.data(), n);
    const int st = ::pclose(p);
    o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return o;
}

std::vector<char> bytes_of(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const fs::path& p, const std::vector<char>& b)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(b.data(), static_cast<std::streamsize>(b.size()));
}

// No crash, no sanitizer report, and a failure says something.
void expect_clean_failure(const Outcome& o, const std::string& what, bool must_fail = true)
{
    EXPECT_NE(o.status, -1) << what << ": killed by a signal\n" << o.output;
    EXPECT_EQ(o.output.find("Sanitizer"), std::string::npos) << what << "\n" << o.output;
    EXPECT_EQ(o.output.find("runtime error"), std::string::npos) << what << "\n" << o.output;
    if (must_fail) {
        EXPECT_NE(o.status, 0) << what << " succeeded";
    }
    if (o.status != 0) {
        EXPECT_NE(o.output, "") << what << ": failed without a message";
    }
}

class BadInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("tessivo-bad-input-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        good = dir / "good.img";
        const std::string mk = "mkfs.fat -C -F 16 -s 1 " + quote(good.string()) + " 4096 >/dev/null 2>&1 && "
                               "printf 'hello' > " + quote((dir / "s.txt").string()) + " && "
                               "MTOOLS_SKIP_CHECK=1 mcopy -i " + quote(good.string()) + " " +
                               quote((dir / "s.txt").string()) + " ::/A.TXT && "
                               "MTOOLS_SKIP_CHECK=1 mmd -i " + quote(good.string()) + " ::/DIR";
        ASSERT_EQ(std::system(mk.c_str()), 0) << "mkfs.fat/mtools failed";
        const std::vector<char> g = bytes_of(good);
        std::vector<char> odd = g;
        odd.resize(g.size() + 100, 0);
        std::vector<char> garbage(64 * 1024);
        for (std::size_t i = 0; i < garbage.size(); i++) garbage[i] = static_cast<char>(i * 131 + (i >> 7));
        images = {
            {"empty", {}},
            {"one_sector", std::vector<char>(g.begin(), g.begin() + 512)},
            {"truncated", std::vector<char>(g.begin(), g.begin() + 16384)},
            {"truncated_odd", std::vector<char>(g.begin(), g.begin() + 10000)},
            {"boot_sector_cut", std::vector<char>(g.begin(), g.begin() + 300)},
            {"odd_size", odd},
            {"garbage", garbage},
        };
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path image(const std::string& name, const std::vector<char>& b)
    {
        const fs::path p = dir / (name + ".img");
        write_bytes(p, b);
        return p;
    }

    fs::path dir, good;
    std::vector<std::pair<std::string, std::vector<char>>> images;
};

TEST_F(BadInput, FatimgReadOnlyCommandsOnDamagedImages)
{
    const std::vector<std::string> commands = {"ls", "tree", "df", "stat A.TXT", "cat A.TXT", "ls DIR",
                                               "get A.TXT " + quote((dir / "out.bin").string()), "attrib A.TXT"};
    for (const auto& [name, b] : images) {
        const fs::path p = image(name, b);
        for (const std::string& c : commands) {
            const Outcome o = run(std::string(FATIMG_PATH) + " " + quote(p.string()) + " " + c);
            // An image with a few bytes beyond its last whole sector still
            // holds a good volume.
            expect_clean_failure(o, name + ": " + c, name != "odd_size");
            EXPECT_EQ(bytes_of(p), b) << name + ": " + c << " changed the image";
        }
    }
}

TEST_F(BadInput, FatimgWritingCommandsOnDamagedImagesNeverGrowThem)
{
    const std::vector<std::string> commands = {"mkdir NEW", "put " + quote((dir / "s.txt").string()) + " B.TXT",
                                               "rm A.TXT", "mv A.TXT DIR/B.TXT", "touch C.TXT", "attrib A.TXT +r"};
    for (const auto& [name, b] : images) {
        for (const std::string& c : commands) {
            const fs::path p = image(name, b);
            const Outcome o = run(std::string(FATIMG_PATH) + " " + quote(p.string()) + " " + c);
            expect_clean_failure(o, name + ": " + c, name != "odd_size");
            EXPECT_EQ(fs::file_size(p), b.size()) << name + ": " + c << " changed the image size";
            if (o.status != 0 && name == "empty") {
                EXPECT_EQ(bytes_of(p), b);
            }
        }
    }
}

TEST_F(BadInput, FatimgRefusesForbiddenCharactersAndLongPaths)
{
    std::vector<std::string> paths;
    for (char c : std::string("\"*+,:;<=>?[]|\x7f")) paths.push_back(std::string("A") + c + "B.TXT");
    paths.push_back("A\x01" "B");
    paths.push_back("MY FILE.TXT");
    paths.push_back("ABCDEFGHI.TXT");           // body too long
    paths.push_back("A.TEXT");                  // extension too long
    paths.push_back("A.B.C");                   // two dots
    paths.push_back("...");
    paths.push_back(std::string(5000, 'A'));    // one very long name
    std::string deep;
    for (int i = 0; i < 600; i++) deep += "ABCDEFGH/";
    paths.push_back(deep + "F.TXT");            // a very long path
    const std::vector<char> before = bytes_of(good);
    for (const std::string& path : paths) {
        SCOPED_TRACE(path.substr(0, 40));
        for (const char* c : {"stat", "cat", "ls"}) {
            const Outcome o = run(std::string(FATIMG_PATH) + " " + quote(good.string()) + " " + c + " " + quote(path));
            expect_clean_failure(o, c);
        }
        EXPECT_EQ(bytes_of(good), before) << "a read-only command changed the image";
        for (const std::string& c : {std::string("mkdir ") + quote(path),
                                     "put " + quote((dir / "s.txt").string()) + " " + quote(path),
                                     "mv A.TXT " + quote(path), "touch " + quote(path)}) {
            const Outcome o = run(std::string(FATIMG_PATH) + " " + quote(good.string()) + " " + c);
            expect_clean_failure(o, c);
        }
        EXPECT_EQ(bytes_of(good), before) << "a refused change still changed the image";
    }
}

TEST_F(BadInput, SimulatorOnDamagedCards)
{
    for (const auto& [name, b] : images) {
        const fs::path p = image(name, b);
        const Outcome o = run("cd " + quote(dir.string()) + " && " + TESSIVO_SIM_PATH + " --card " + quote(p.string()) +
                              " --max-seconds 2 --panel-png " + quote((dir / "panel.png").string()));
        // A card image it can read runs (the firmware shows what it shows for
        // a bad card); one it cannot is refused with a message.
        expect_clean_failure(o, name, b.empty() || b.size() % 512 != 0);
        EXPECT_EQ(bytes_of(p), b) << name << ": the board changed the card image";
    }
}

TEST_F(BadInput, MkcardOnBadFiles)
{
    const fs::path png = dir / "bad.png", mp3 = dir / "song.mp3", out = dir / "card.img";
    write_bytes(png, {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n', 0, 0});
    write_bytes(mp3, std::vector<char>(4000, '\x55'));
    const std::string mk = std::string(MKCARD_PATH);
    const std::vector<std::string> cases = {
        "--picture " + quote(png.string()) + " --music " + quote(mp3.string()) + " -o " + quote(out.string()),
        "--picture " + quote((dir / "none.png").string()) + " --music " + quote(mp3.string()) + " -o " + quote(out.string()),
        "--picture " + quote(good.string()) + " --music " + quote(mp3.string()) + " -o " + quote(out.string()),
        "--picture " + quote(png.string()) + " --music " + quote(mp3.string()) + " -o " + quote((dir / "no/such/dir/c.img").string()),
        "--picture " + quote(png.string()) + " --music " + quote(mp3.string()) + " -o " + quote(out.string()) + " --size 12Q",
        "--picture " + quote(png.string()) + " --music " + quote(mp3.string()) + " -o " + quote(out.string()) + " --size 1K",
    };
    for (const std::string& c : cases) {
        const Outcome o = run(mk + " " + c);
        expect_clean_failure(o, c);
        EXPECT_FALSE(fs::exists(out)) << c << " left a card image behind";
    }
}

}  // namespace
