// How pictures become the panel frame: every PNG colour type and bit depth
// taken pixel for pixel at 800 x 480, and other sizes scaled and letterboxed.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/mkcard/mkcard_support.h"

namespace mkcard_test {
namespace {

// Makes a 16M card from `png` and returns its LOL.RAW (empty on failure).
Bytes frame_from_png(const ScratchDir& dir, const std::string& png)
{
    write_file(dir.path("in.mp3"), make_mp3(8));
    const RunResult r = run_mkcard({"--picture", png, "--music", dir.path("in.mp3"), "-o", dir.path("card.img"),
                                    "--size", "16M", "--sfd"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return card_file(dir.path("card.img"), 0, "LOL.RAW", dir.path(""));
}

uint8_t over_black(unsigned c, unsigned a) { return static_cast<uint8_t>((c * a + 127) / 255); }

// Sample values of one pixel in the PNG's own depth, channel by channel.
using SampleFn = uint16_t (*)(uint32_t x, uint32_t y, int channel);
// The 8-bit RGB the picture stands for (alpha already applied over black).
using ExpectFn = void (*)(uint32_t x, uint32_t y, uint8_t* rgb);

struct ColourCase {
    const char* name;
    int color_type;
    int bit_depth;
    int channels;
    bool interlaced;
    SampleFn sample;
    ExpectFn expect;
};

// Palette used by the indexed cases: colours with every kind of alpha.
Bytes test_palette(int entries)
{
    Bytes pal;
    for (int i = 0; i < entries; i++) pal.insert(pal.end(), {uint8_t(i * 255 / (entries - 1)), uint8_t(255 - i), uint8_t(i * 3)});
    return pal;
}
uint8_t palette_alpha(int i) { return i % 3 == 0 ? 255 : i % 3 == 1 ? 0 : 128; }

uint16_t index8(uint32_t x, uint32_t y, int) { return static_cast<uint16_t>((x + y) & 255); }
uint16_t index4(uint32_t x, uint32_t y, int) { return static_cast<uint16_t>((x + y) & 15); }
void expect_palette(uint32_t i, int entries, uint8_t* p)
{
    static const Bytes pal256 = test_palette(256), pal16 = test_palette(16);
    const Bytes& pal = entries == 256 ? pal256 : pal16;
    for (int c = 0; c < 3; c++) p[c] = over_black(pal[i * 3 + c], palette_alpha(static_cast<int>(i)));
}

const ColourCase kColourCases[] = {
    {"Palette8WithTransparency", 3, 8, 1, false, index8,
     [](uint32_t x, uint32_t y, uint8_t* p) { expect_palette((x + y) & 255, 256, p); }},
    {"Palette4WithTransparency", 3, 4, 1, false, index4,
     [](uint32_t x, uint32_t y, uint8_t* p) { expect_palette((x + y) & 15, 16, p); }},
    {"Grey1", 0, 1, 1, false, [](uint32_t x, uint32_t y, int) -> uint16_t { return (x ^ y) & 1; },
     [](uint32_t x, uint32_t y, uint8_t* p) { p[0] = p[1] = p[2] = ((x ^ y) & 1) ? 255 : 0; }},
    {"Grey2", 0, 2, 1, false, [](uint32_t x, uint32_t y, int) -> uint16_t { return (x + y) & 3; },
     [](uint32_t x, uint32_t y, uint8_t* p) { p[0] = p[1] = p[2] = static_cast<uint8_t>(((x + y) & 3) * 85); }},
    {"Grey4", 0, 4, 1, false, [](uint32_t x, uint32_t y, int) -> uint16_t { return (x + 3 * y) & 15; },
     [](uint32_t x, uint32_t y, uint8_t* p) { p[0] = p[1] = p[2] = static_cast<uint8_t>(((x + 3 * y) & 15) * 17); }},
    {"Grey8", 0, 8, 1, false, [](uint32_t x, uint32_t y, int) -> uint16_t { return (x + y) & 255; },
     [](uint32_t x, uint32_t y, uint8_t* p) { p[0] = p[1] = p[2] = static_cast<uint8_t>(x + y); }},
    {"Grey16", 0, 16, 1, false, [](uint32_t x, uint32_t y, int) -> uint16_t { return static_cast<uint16_t>(x * 97 + y * 13); },
     [](uint32_t x, uint32_t y, uint8_t* p) { p[0] = p[1] = p[2] = static_cast<uint8_t>((x * 97 + y * 13) >> 8); }},
    {"GreyAlpha8", 4, 8, 2, false,
     [](uint32_t x, uint32_t y, int c) -> uint16_t { return c == 0 ? (x & 255) : (y * 5) & 255; },
     [](uint32_t x, uint32_t y, uint8_t* p) { p[0] = p[1] = p[2] = over_black(x & 255, (y * 5) & 255); }},
    {"Rgb16", 2, 16, 3, false,
     [](uint32_t x, uint32_t y, int c) -> uint16_t { return static_cast<uint16_t>(x * 81 + y * 7 + c * 20000); },
     [](uint32_t x, uint32_t y, uint8_t* p) {
         for (int c = 0; c < 3; c++) p[c] = static_cast<uint8_t>(static_cast<uint16_t>(x * 81 + y * 7 + c * 20000) >> 8);
     }},
    {"Rgba8", 6, 8, 4, false,
     [](uint32_t x, uint32_t y, int c) -> uint16_t { return c == 3 ? (x + y) & 255 : (x * (c + 1) + y) & 255; },
     [](uint32_t x, uint32_t y, uint8_t* p) {
         for (int c = 0; c < 3; c++) p[c] = over_black((x * (c + 1) + y) & 255, (x + y) & 255);
     }},
    {"Rgba16", 6, 16, 4, false,
     [](uint32_t x, uint32_t y, int c) -> uint16_t {
         return c == 3 ? static_cast<uint16_t>(y * 137) : static_cast<uint16_t>(x * 80 + c * 9000);
     },
     [](uint32_t x, uint32_t y, uint8_t* p) {
         for (int c = 0; c < 3; c++)
             p[c] = over_black(static_cast<uint16_t>(x * 80 + c * 9000) >> 8, static_cast<uint16_t>(y * 137) >> 8);
     }},
    {"Rgb8Interlaced", 2, 8, 3, true,
     [](uint32_t x, uint32_t y, int c) -> uint16_t { return (x * 3 + y * (c + 1)) & 255; },
     [](uint32_t x, uint32_t y, uint8_t* p) {
         for (int c = 0; c < 3; c++) p[c] = static_cast<uint8_t>(x * 3 + y * (c + 1));
     }},
};

// Packs samples into PNG rows: big-endian 16-bit, or several per byte from
// the most significant bits on.
Bytes pack_samples(const ColourCase& k)
{
    Bytes out;
    for (uint32_t y = 0; y < kPanelHeight; y++) {
        unsigned acc = 0, bits = 0;
        for (uint32_t x = 0; x < kPanelWidth; x++)
            for (int c = 0; c < k.channels; c++) {
                const uint16_t v = k.sample(x, y, c);
                if (k.bit_depth == 16) {
                    out.push_back(static_cast<uint8_t>(v >> 8));
                    out.push_back(static_cast<uint8_t>(v));
                } else {
                    acc = (acc << k.bit_depth) | v;
                    bits += k.bit_depth;
                    if (bits == 8) {
                        out.push_back(static_cast<uint8_t>(acc));
                        acc = bits = 0;
                    }
                }
            }
        if (bits) out.push_back(static_cast<uint8_t>(acc << (8 - bits)));
    }
    return out;
}

void PrintTo(const ColourCase& k, std::ostream* os) { *os << k.name; }

class ColourTypes : public ::testing::TestWithParam<ColourCase> {};

TEST_P(ColourTypes, FullSizePictureIsTakenPixelForPixel)
{
    const ColourCase& k = GetParam();
    ScratchDir dir;
    PngInput in;
    in.width = kPanelWidth;
    in.height = kPanelHeight;
    in.color_type = k.color_type;
    in.bit_depth = k.bit_depth;
    in.interlaced = k.interlaced;
    in.samples = pack_samples(k);
    if (k.color_type == 3) {
        const int entries = 1 << k.bit_depth;
        in.palette = test_palette(entries);
        for (int i = 0; i < entries; i++) in.trns.push_back(palette_alpha(i));
    }
    write_png(dir.path("in.png"), in);

    const Picture expected = make_picture(kPanelWidth, kPanelHeight, k.expect);
    const Bytes frame = frame_from_png(dir, dir.path("in.png"));
    ASSERT_EQ(frame.size(), expected_frame(expected).size());
    const Bytes want = expected_frame(expected);
    for (uint32_t y = 0; y < kPanelHeight; y++)
        for (uint32_t x = 0; x < kPanelWidth; x++)
            ASSERT_EQ(pixel_at(frame, x, y), pixel_at(want, x, y)) << "at " << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Png, ColourTypes, ::testing::ValuesIn(kColourCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Other sizes: the picture fills the largest centred area with its own aspect
// ratio and everything else is black.
struct FitCase {
    uint32_t width, height;
    uint32_t x, y, w, h;  // expected area on the panel
};

void PrintTo(const FitCase& k, std::ostream* os) { *os << k.width << "x" << k.height; }

class Letterbox : public ::testing::TestWithParam<FitCase> {};

TEST_P(Letterbox, ScaledIntoCentredAreaWithBlackAround)
{
    const FitCase& k = GetParam();
    ScratchDir dir;
    const Picture uniform = make_picture(k.width, k.height, [](uint32_t, uint32_t, uint8_t* p) {
        p[0] = 200;
        p[1] = 100;
        p[2] = 50;
    });
    write_rgb_png(dir.path("in.png"), uniform);
    const Bytes frame = frame_from_png(dir, dir.path("in.png"));
    ASSERT_EQ(frame.size(), kPanelWidth * kPanelHeight * 2u);
    const uint16_t colour = (200 >> 3) << 11 | (100 >> 2) << 5 | (50 >> 3);
    for (uint32_t y = 0; y < kPanelHeight; y++)
        for (uint32_t x = 0; x < kPanelWidth; x++) {
            const bool inside = x >= k.x && x < k.x + k.w && y >= k.y && y < k.y + k.h;
            ASSERT_EQ(pixel_at(frame, x, y), inside ? colour : 0) << "at " << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Letterbox,
                         ::testing::Values(FitCase{400, 240, 0, 0, 800, 480},      // enlarged, same shape
                                           FitCase{1600, 960, 0, 0, 800, 480},     // shrunk, same shape
                                           FitCase{801, 480, 0, 0, 800, 479},      // one column too many
                                           FitCase{400, 400, 160, 0, 480, 480},    // square: bars left and right
                                           FitCase{480, 800, 256, 0, 288, 480},    // portrait
                                           FitCase{1000, 100, 0, 200, 800, 80},    // wide: bars top and bottom
                                           FitCase{30000, 10, 0, 239, 800, 1},     // a sliver still shows
                                           FitCase{1, 1, 160, 0, 480, 480}),       // one pixel blown up
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

uint32_t red5(uint16_t px) { return px >> 11; }
uint32_t green6(uint16_t px) { return (px >> 5) & 63; }

TEST(Scaling, ShrinkingAveragesFineDetailToItsMeanGrey)
{
    // A one-pixel checkerboard halved: each output pixel covers two black and
    // two white pixels, so an averaging filter gives mid grey everywhere
    // (sampling single pixels would give black, white or moire).
    ScratchDir dir;
    write_rgb_png(dir.path("in.png"), make_picture(1600, 960, [](uint32_t x, uint32_t y, uint8_t* p) {
                      p[0] = p[1] = p[2] = ((x ^ y) & 1) ? 255 : 0;
                  }));
    const Bytes frame = frame_from_png(dir, dir.path("in.png"));
    ASSERT_EQ(frame.size(), kPanelWidth * kPanelHeight * 2u);
    for (uint32_t y = 0; y < kPanelHeight; y++)
        for (uint32_t x = 0; x < kPanelWidth; x++) {
            const uint16_t px = pixel_at(frame, x, y);
            ASSERT_TRUE(red5(px) >= 15 && red5(px) <= 16 && green6(px) >= 31 && green6(px) <= 32)
                << "at " << x << "," << y << ": " << px;
        }
}

TEST(Scaling, EnlargingBlendsNeighboursIntoASmoothRamp)
{
    // Two pixels, black and white, blown up to 800 x 400: between the two
    // pixel centres the row rises steadily instead of jumping once.
    ScratchDir dir;
    write_rgb_png(dir.path("in.png"), make_picture(2, 1, [](uint32_t x, uint32_t, uint8_t* p) {
                      p[0] = p[1] = p[2] = x ? 255 : 0;
                  }));
    const Bytes frame = frame_from_png(dir, dir.path("in.png"));
    ASSERT_EQ(frame.size(), kPanelWidth * kPanelHeight * 2u);
    const uint32_t row = 240;
    std::set<uint32_t> levels;
    for (uint32_t x = 0; x < kPanelWidth; x++) {
        const uint32_t g = green6(pixel_at(frame, x, row));
        if (x > 0) {
            ASSERT_GE(g, green6(pixel_at(frame, x - 1, row))) << "at " << x;
        }
        levels.insert(g);
    }
    EXPECT_EQ(green6(pixel_at(frame, 0, row)), 0u);
    EXPECT_EQ(green6(pixel_at(frame, kPanelWidth - 1, row)), 63u);
    EXPECT_EQ(levels.size(), 64u) << "every level of the 6-bit channel appears on the way";
    EXPECT_EQ(pixel_at(frame, 400, 39), 0) << "bar above the picture";
    EXPECT_NE(pixel_at(frame, 400, 40), 0) << "first row of the picture";
}

} // namespace
} // namespace mkcard_test
