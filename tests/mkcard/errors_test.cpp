// Bad input and refused output: exit status, a message naming the file and
// the cause, and no trace on disk (an existing card stays as it was).
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/mkcard/mkcard_support.h"

namespace mkcard_test {
namespace {

struct ErrorCase {
    const char* name;
    std::vector<std::string> args;  // "@NAME" stands for NAME in the scratch directory
    int exit_code;
    std::string message;            // expected in the first line of stderr, "@" as in args
    uint64_t file_size_limit = 0;
};

std::string expand(const std::string& s, const ScratchDir& dir)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '@') {
            size_t end = i + 1;
            while (end < s.size() && s[end] != ':' && s[end] != ' ') end++;
            const std::string name = s.substr(i + 1, end - i - 1);
            out += name.empty() ? dir.path(".") : dir.path(name);
            i = end - 1;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Inputs every case can use; only some are good.
void make_inputs(const ScratchDir& dir)
{
    write_rgb_png(dir.path("pic.png"), make_picture(8, 8, [](uint32_t x, uint32_t y, uint8_t* p) {
                      p[0] = static_cast<uint8_t>(x * 30);
                      p[1] = static_cast<uint8_t>(y * 30);
                      p[2] = 90;
                  }));
    write_file(dir.path("tune.mp3"), make_mp3(40));
    write_file(dir.path("long.mp3"), make_mp3(400));
    write_file(dir.path("text.txt"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    write_file(dir.path("empty.mp3"), {});
    Bytes noise(200000);
    uint32_t seed = 12345;
    for (auto& b : noise) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 24);
    write_file(dir.path("noise.bin"), noise);
    const Bytes png = read_file(dir.path("pic.png"));
    write_file(dir.path("truncated.png"), Bytes(png.begin(), png.begin() + static_cast<long>(png.size() / 2)));
    write_file(dir.path("huge.png"), png_header_only(30000, 30000));
    write_file(dir.path("wide.png"), png_header_only(1000000, 1));
    write_file(dir.path("card.img"), Bytes{'o', 'l', 'd'});
    // Fine detail, so that the compressed data makes up most of the file.
    const Bytes jpeg = make_jpeg(make_picture(256, 192, [](uint32_t x, uint32_t y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x * 37 ^ y * 11);
        p[1] = static_cast<uint8_t>(y * 53 ^ x);
        p[2] = static_cast<uint8_t>((x ^ y) * 29);
    }));
    write_file(dir.path("cut.jpg"), Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() * 3 / 4)));
    JpegInput cmyk;
    cmyk.cmyk = true;
    write_file(dir.path("cmyk.jpg"), make_jpeg(make_picture(16, 16, [](uint32_t, uint32_t, uint8_t* p) { p[0] = 9; }), cmyk));
    ::symlink(dir.path("tune.mp3").c_str(), dir.path("tune-link.mp3").c_str());
}

const std::vector<std::string> kGood = {"--picture", "@pic.png", "--music", "@tune.mp3", "-o", "@card.img"};

std::vector<std::string> with(std::vector<std::string> base, const std::string& opt, const std::string& value)
{
    auto it = std::find(base.begin(), base.end(), opt);
    if (it != base.end()) *(it + 1) = value;
    else base.insert(base.end(), {opt, value});
    return base;
}

std::vector<std::string> plus(std::vector<std::string> base, std::initializer_list<std::string> extra)
{
    base.insert(base.end(), extra);
    return base;
}

const ErrorCase kErrorCases[] = {
    {"MissingPicture", with(kGood, "--picture", "@nope.png"), 1, "@nope.png: No such file or directory"},
    {"PictureIsADirectory", with(kGood, "--picture", "@"), 1, "@: Is a directory"},
    {"PictureNotPng", with(kGood, "--picture", "@text.txt"), 1, "@text.txt: not a PNG or JPEG file"},
    {"JpegCutShort", with(kGood, "--picture", "@cut.jpg"), 1, "@cut.jpg: damaged JPEG: Premature end of JPEG file"},
    {"JpegCmyk", with(kGood, "--picture", "@cmyk.jpg"), 1, "@cmyk.jpg: CMYK JPEG (a print colour space)"},
    {"PictureTruncated", with(kGood, "--picture", "@truncated.png"), 1, "@truncated.png: damaged PNG"},
    {"PictureTooManyPixels", with(kGood, "--picture", "@huge.png"), 1, "@huge.png: picture too large (30000 x 30000"},
    {"PictureTooWide", with(kGood, "--picture", "@wide.png"), 1, "@wide.png: picture too large (1000000 x 1"},
    {"MissingMusic", with(kGood, "--music", "@nope.mp3"), 1, "@nope.mp3: No such file or directory"},
    {"MusicIsText", with(kGood, "--music", "@text.txt"), 1, "@text.txt: not an MP3 stream"},
    {"MusicIsNoise", with(kGood, "--music", "@noise.bin"), 1, "@noise.bin: not an MP3 stream"},
    {"MusicIsAPicture", with(kGood, "--music", "@pic.png"), 1, "@pic.png: not an MP3 stream"},
    {"MusicEmpty", with(kGood, "--music", "@empty.mp3"), 1, "@empty.mp3: empty file, not an MP3 stream"},
    {"CardBelowSmallestVolume", plus(kGood, {"--size", "32K"}), 1, "@card.img: card size 32K too small"},
    {"CardTooSmallForPicture", plus(kGood, {"--size", "512K"}), 1,
     "@card.img: card size 512K too small for the files (LOL.RAW needs 768000 bytes"},
    {"CardTooSmallForMusic", plus(with(kGood, "--music", "@long.mp3"), {"--size", "900K"}), 1,
     "@card.img: card size 900K too small for the files (LOL.MP3 needs"},
    {"OutputFolderMissing", with(kGood, "-o", "@missing/card.img"), 1,
     "@missing/card.img: cannot create the image: No such file or directory"},
    {"OutputIsADirectory", with(kGood, "-o", "@"), 1, "@: is a directory"},
    {"OutputIsAcharacterDevice", with(kGood, "-o", "/dev/null"), 1,
     "/dev/null: a character device, not an image file or a card"},
    {"OutputIsThePicture", with(kGood, "-o", "@pic.png"), 2,
     "@pic.png: the same file is given as the picture and as the card"},
    {"OutputIsTheMusicByAnotherName", with(kGood, "-o", "@tune-link.mp3"), 2,
     "@tune-link.mp3: the same file is given as the music and as the card"},
    {"PreviewIsTheCard", plus(kGood, {"--preview", "@card.img"}), 2,
     "@card.img: the same file is given as the preview and as the card"},
    {"PreviewIsAFolder", plus(kGood, {"--preview", "@"}), 1, "@: is a directory"},
    {"HostRefusesImageSize", kGood, 1, "@card.img: cannot size the image: File too large", 1 << 20},
    {"UnknownOption", plus(kGood, {"--frobnicate"}), 2, "unknown option: --frobnicate"},
    {"StrayArgument", plus(kGood, {"extra"}), 2, "unexpected argument: extra"},
    {"OptionWithoutValue", plus(kGood, {"--size"}), 2, "missing value for --size"},
    {"MissingOutput", {"--picture", "@pic.png", "--music", "@tune.mp3"}, 2, "missing -o"},
    {"MissingPictureOption", {"--music", "@tune.mp3", "-o", "@card.img"}, 2, "missing --picture"},
    {"BadSize", plus(kGood, {"--size", "lots"}), 2, "bad value for --size: lots"},
    {"BadFit", plus(kGood, {"--fit", "stretch"}), 2, "bad value for --fit: stretch (letterbox or crop)"},
    {"MissingMusicOption", {"--picture", "@pic.png", "-o", "@card.img"}, 2, "missing --music"},
};

void PrintTo(const ErrorCase& k, std::ostream* os) { *os << k.name; }

class BadInput : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(BadInput, RefusedWithMessageAndNoTrace)
{
    const ErrorCase& k = GetParam();
    ScratchDir dir;
    make_inputs(dir);
    const std::vector<std::string> before = dir.entries();
    std::vector<Bytes> contents;
    for (const std::string& name : before) contents.push_back(read_file(dir.path(name)));
    std::vector<std::string> args;
    for (const auto& a : k.args) args.push_back(expand(a, dir));

    const RunResult r = run_mkcard(args, k.file_size_limit);
    EXPECT_EQ(r.exit_code, k.exit_code) << r.err;
    const std::string first_line = r.err.substr(0, r.err.find('\n'));
    EXPECT_EQ(first_line.rfind("tessivo-mkcard: ", 0), 0u) << r.err;
    EXPECT_NE(first_line.find(expand(k.message, dir)), std::string::npos) << r.err;
    if (k.exit_code == 1) {
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(r.out, "");

    EXPECT_EQ(dir.entries(), before) << "files were left behind";
    for (size_t i = 0; i < before.size(); i++)
        EXPECT_TRUE(read_file(dir.path(before[i])) == contents[i]) << before[i] << " was touched";
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInput, ::testing::ValuesIn(kErrorCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A small file system mounted for one test, unmounted at the end.
class SmallDisk {
public:
    SmallDisk(const std::string& dir, const char* size)
        : dir_(dir), mounted_(::mount("tmpfs", dir.c_str(), "tmpfs", 0, size) == 0) {}
    ~SmallDisk()
    {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::string dir_;
    bool mounted_;
};

TEST(FullDisk, WriteRefusedByTheHostIsReportedAndLeavesNoTrace)
{
    // The image is sparse, so sizing it succeeds and the disk fills up only
    // while the picture is written.
    ScratchDir dir;
    make_inputs(dir);
    const std::string disk = dir.path("disk");
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    SmallDisk small(disk, "size=2m");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    write_file(disk + "/filler", Bytes(1700 * 1024, 1));
    write_file(disk + "/card.img", Bytes{'o', 'l', 'd'});

    const RunResult r = run_mkcard(
        {"--picture", dir.path("pic.png"), "--music", dir.path("tune.mp3"), "-o", disk + "/card.img", "--size", "16M"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "tessivo-mkcard: " + disk + "/card.img: cannot write LOL.RAW: No space left on device\n");
    EXPECT_EQ(read_file(disk + "/card.img"), (Bytes{'o', 'l', 'd'}));
    std::string listing;
    shell("ls -A '" + disk + "'", &listing);
    EXPECT_EQ(listing, "card.img\nfiller\n");
}

TEST(CommandLine, HelpAndVersionSucceed)
{
    const RunResult r = run_mkcard({"--help"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind("Usage: tessivo-mkcard --picture IMAGE --music SONG.mp3 -o CARD", 0), 0u) << r.out;
    for (const char* option : {"--fit", "--dither", "--preview", "--size", "--sfd", "--version"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    EXPECT_EQ(r.err, "");
    const RunResult v = run_mkcard({"--version"});
    EXPECT_EQ(v.exit_code, 0);
    EXPECT_EQ(v.out.rfind("tessivo-mkcard (tessivo) ", 0), 0u) << v.out;
}

} // namespace
} // namespace mkcard_test
