// Photos: JPEG files taken as libjpeg decodes them and turned upright by
// their EXIF orientation, the crop fit, dithering, and the preview of what
// the board will show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tests/mkcard/mkcard_support.h"

namespace mkcard_test {
namespace {

// Runs tessivo-mkcard on `picture` with `options` for the preview alone and
// returns the preview (empty on failure).
Picture preview_of(const ScratchDir& dir, const std::string& picture, std::vector<std::string> options = {})
{
    std::vector<std::string> args = {"--picture", picture, "--preview", dir.path("preview.png")};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult r = run_mkcard(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return read_png_rgb(dir.path("preview.png"));
}

// How far apart two pictures are: the largest difference of any sample.
int largest_difference(const Picture& a, const Picture& b)
{
    if (a.rgb.size() != b.rgb.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < a.rgb.size(); i++) worst = std::max(worst, std::abs(a.rgb[i] - b.rgb[i]));
    return worst;
}

// A photo-like 800 x 480 picture: smooth colour fields and fine detail.
Picture photo()
{
    return make_picture(kPanelWidth, kPanelHeight, [](uint32_t x, uint32_t y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(128 + 100 * std::sin(x / 40.0));
        p[1] = static_cast<uint8_t>(y * 255 / 479);
        p[2] = static_cast<uint8_t>(((x / 8 + y / 8) & 1) ? 200 : 30);
    });
}

struct JpegCase {
    const char* name;
    JpegInput how;
};

void PrintTo(const JpegCase& k, std::ostream* os) { *os << k.name; }

class Jpeg : public ::testing::TestWithParam<JpegCase> {};

// The card's LOL.RAW holds exactly what libjpeg decodes, top bits kept.
TEST_P(Jpeg, TakenAsLibjpegDecodesIt)
{
    ScratchDir dir;
    const Bytes jpeg = make_jpeg(photo(), GetParam().how);
    write_file(dir.path("in.jpg"), jpeg);
    write_file(dir.path("in.mp3"), make_mp3(8));
    const RunResult r = run_mkcard({"--picture", dir.path("in.jpg"), "--music", dir.path("in.mp3"), "-o",
                                    dir.path("card.img"), "--size", "16M", "--sfd"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Bytes raw = card_file(dir.path("card.img"), 0, "LOL.RAW", dir.path(""));
    EXPECT_TRUE(raw == expected_frame(decode_jpeg(jpeg)));
}

INSTANTIATE_TEST_SUITE_P(Kinds, Jpeg,
                         ::testing::Values(JpegCase{"Baseline", {}}, JpegCase{"Grey", {true, false, false, {}}},
                                           JpegCase{"Progressive", {false, false, true, {}}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A photo stored sideways (or mirrored) with its EXIF orientation: the
// preview shows it upright. Quadrants red, green / blue, white as stored.
TEST(Photo, ExifOrientationTurnsThePhotoUpright)
{
    ScratchDir dir;
    const Picture stored = make_picture(160, 96, [](uint32_t x, uint32_t y, uint8_t* p) {
        const bool right = x >= 80, bottom = y >= 48;
        p[0] = !bottom || right ? 255 : 0;  // red, green, blue, white
        p[1] = right ? 255 : 0;
        p[2] = bottom ? 255 : 0;
        if (!bottom && right) p[0] = 0;
    });
    const struct {
        int value;
        const char* shows;  // top left, top right, bottom left, bottom right
    } cases[] = {{1, "RGBW"}, {2, "GRWB"}, {3, "WBGR"}, {4, "BWRG"}, {5, "RBGW"}, {6, "BRWG"}, {7, "WGBR"}, {8, "GWRB"}};
    for (const auto& c : cases) {
        for (bool big_endian : {false, true}) {
            JpegInput how;
            how.app1 = exif_orientation_block(c.value, big_endian);
            write_file(dir.path("in.jpg"), make_jpeg(stored, how));
            const Picture shown = preview_of(dir, dir.path("in.jpg"));
            ASSERT_EQ(shown.width, kPanelWidth);
            // Upright the photo is 160 x 96 (fills the panel) or 96 x 160
            // (288 x 480 in the middle, black beside it).
            const bool portrait = c.value >= 5;
            const uint32_t left = portrait ? 256 : 0, width = portrait ? 288 : 800;
            std::string got;
            for (uint32_t y : {120u, 360u})
                for (uint32_t x : {left + width / 4, left + width * 3 / 4}) {
                    const uint8_t* p = &shown.rgb[(static_cast<size_t>(y) * kPanelWidth + x) * 3];
                    got += p[0] > 128 && p[1] > 128 ? 'W' : p[0] > 128 ? 'R' : p[1] > 128 ? 'G' : p[2] > 128 ? 'B' : '?';
                }
            EXPECT_EQ(got, c.shows) << "orientation " << c.value << (big_endian ? " MM" : " II");
            const uint8_t* beside = &shown.rgb[(240 * kPanelWidth + 100) * 3];
            EXPECT_EQ(beside[0] + beside[1] + beside[2] == 0, portrait) << "orientation " << c.value;
        }
    }
}

// Crop fills the panel with the middle of the picture; what sticks out on
// the long side is cut off evenly. Red and blue bands lie outside the crop.
TEST(Photo, CropFillsThePanelAndCutsTheOverhangEvenly)
{
    ScratchDir dir;
    const struct {
        const char* name;
        uint32_t width, height;
        uint32_t band;  // red before, blue after, along the long side
    } cases[] = {{"wide, taken 1:1", 1000, 480, 100}, {"tall, scaled", 480, 1000, 356}, {"same shape", 400, 240, 0}};
    for (const auto& c : cases) {
        const bool wide = c.width * kPanelHeight > c.height * kPanelWidth;
        write_rgb_png(dir.path("in.png"), make_picture(c.width, c.height, [&](uint32_t x, uint32_t y, uint8_t* p) {
                          const uint32_t along = wide ? x : y, length = wide ? c.width : c.height;
                          p[0] = along < c.band ? 255 : 0;
                          p[1] = along >= c.band && along < length - c.band ? 200 : 0;
                          p[2] = along >= length - c.band ? 255 : 0;
                      }));
        const Picture shown = preview_of(dir, dir.path("in.png"), {"--fit", "crop"});
        ASSERT_EQ(shown.width, kPanelWidth) << c.name;
        uint8_t green[3];
        shown_rgb((200 >> 2) << 5, green);
        size_t wrong = 0;
        for (uint32_t y = 0; y < kPanelHeight; y++)
            for (uint32_t x = 0; x < kPanelWidth; x++) {
                if (x >= 99 && x <= 199 && y >= 99 && y <= 199) continue;  // the square
                wrong += !std::equal(green, green + 3, &shown.rgb[(static_cast<size_t>(y) * kPanelWidth + x) * 3]);
            }
        EXPECT_EQ(wrong, 0u) << c.name;
    }
}

// A smooth ramp packed into RGB565: with --dither the colour of any small
// patch stays what the picture holds; without, the ramp falls into bands.
// Colours the panel shows exactly come out unchanged either way.
TEST(Photo, DitheringKeepsGradientsSmoothAndExactColoursExact)
{
    ScratchDir dir;
    const Picture ramp = make_picture(kPanelWidth, kPanelHeight, [](uint32_t x, uint32_t y, uint8_t* p) {
        p[0] = p[1] = p[2] = static_cast<uint8_t>((x * 255 + y) / 799 % 256);
    });
    write_rgb_png(dir.path("ramp.png"), ramp);
    // Mean distance between the 16 x 16 patch averages of the source and of what shows.
    const auto patch_error = [&](const Picture& shown) {
        double total = 0;
        int patches = 0;
        for (uint32_t py = 208; py + 16 <= kPanelHeight; py += 16)  // below the square
            for (uint32_t px = 0; px + 16 <= kPanelWidth; px += 16, patches++)
                for (int c = 0; c < 3; c++) {
                    double want = 0, got = 0;
                    for (uint32_t y = py; y < py + 16; y++)
                        for (uint32_t x = px; x < px + 16; x++) {
                            want += ramp.rgb[(static_cast<size_t>(y) * kPanelWidth + x) * 3 + c];
                            got += shown.rgb[(static_cast<size_t>(y) * kPanelWidth + x) * 3 + c];
                        }
                    total += std::abs(want - got) / 256 / 3;
                }
        return total / patches;
    };
    const double banded = patch_error(preview_of(dir, dir.path("ramp.png")));
    const double dithered = patch_error(preview_of(dir, dir.path("ramp.png"), {"--dither"}));
    EXPECT_GT(banded, 1.0);
    EXPECT_LT(dithered, 0.2) << "banded: " << banded;

    // Every colour here is one the panel shows exactly: nothing to diffuse.
    const Picture exact = make_picture(kPanelWidth, kPanelHeight, [](uint32_t x, uint32_t y, uint8_t* p) {
        shown_rgb(static_cast<uint16_t>(x * 83 + y * 1031), p);
    });
    write_rgb_png(dir.path("exact.png"), exact);
    const Picture plain = preview_of(dir, dir.path("exact.png"));
    EXPECT_EQ(largest_difference(preview_of(dir, dir.path("exact.png"), {"--dither"}), plain), 0);
}

// The preview is the card's picture as the board shows it, square included;
// asked for alone, it makes no card.
TEST(Photo, PreviewIsWhatTheBoardShows)
{
    ScratchDir dir;
    write_file(dir.path("in.jpg"), make_jpeg(photo()));
    write_file(dir.path("in.mp3"), make_mp3(8));
    const RunResult r = run_mkcard({"--picture", dir.path("in.jpg"), "--music", dir.path("in.mp3"), "-o",
                                    dir.path("card.img"), "--size", "16M", "--sfd", "--dither", "--preview",
                                    dir.path("preview.png")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("(800 x 480, dithered)"), std::string::npos) << r.out;
    const Bytes raw = card_file(dir.path("card.img"), 0, "LOL.RAW", dir.path(""));
    ASSERT_EQ(raw.size(), kPanelWidth * kPanelHeight * 2u);
    EXPECT_EQ(largest_difference(read_png_rgb(dir.path("preview.png")), board_view(raw)), 0);

    const RunResult alone = run_mkcard({"--picture", dir.path("in.jpg"), "--preview", dir.path("alone.png")});
    EXPECT_EQ(alone.exit_code, 0) << alone.err;
    EXPECT_EQ(alone.out, dir.path("alone.png") + ": the panel as the board shows it, from " + dir.path("in.jpg") +
                             " (800 x 480)\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"alone.png", "card.img", "in.jpg", "in.mp3", "preview.png"}));
}

} // namespace
} // namespace mkcard_test
