// The EXIF orientation reader on blocks as cameras write them and as a
// hostile file may hold them, and what each orientation does to a picture.
#include <gtest/gtest.h>

#include "tests/mkcard/mkcard_support.h"
#include "tools/tessivo-mkcard/exif.h"
#include "tools/tessivo-mkcard/orientation.h"

namespace mkcard_test {
namespace {

int orientation_of(const Bytes& block) { return mkcard::exif_orientation(block.data(), block.size()); }

TEST(Exif, ReadsTheOrientationInEitherByteOrder)
{
    for (bool big : {false, true})
        for (int value = 1; value <= 8; value++)
            EXPECT_EQ(orientation_of(exif_orientation_block(value, big)), value) << value << (big ? " MM" : " II");
}

TEST(Exif, DamagedOrForeignBlocksMeanUpright)
{
    const Bytes good = exif_orientation_block(6, false);
    const auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes b = good;
        std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
        return b;
    };
    // Offsets in the block: "Exif\0\0" 0..5, TIFF header 6..13, IFD0 count
    // 14, first entry 16, the orientation entry 28 (its value at 36).
    const struct {
        const char* name;
        Bytes block;
    } cases[] = {
        {"empty", {}},
        {"not EXIF", Bytes{'J', 'F', 'I', 'F', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0}},
        {"cut in the header", Bytes(good.begin(), good.begin() + 10)},
        {"cut in the entry", Bytes(good.begin(), good.begin() + 37)},
        {"unknown byte order", with(6, {'X', 'X'})},
        {"not 42", with(8, {43, 0})},
        {"directory past the end", with(10, {0xF0, 0xFF, 0xFF, 0xFF})},
        {"directory offset wraps", with(10, {0xFE, 0xFF, 0xFF, 0xFF})},
        {"count beyond the block, no orientation", [&] {
             Bytes b = with(14, {0xFF, 0xFF});
             b[28] = 0x13;  // the orientation entry becomes another tag
             return b;
         }()},
        {"value 0", with(36, {0, 0})},
        {"value 9", with(36, {9, 0})},
        {"not a SHORT", with(30, {4, 0})},
        {"two values", with(32, {2, 0})},
    };
    for (const auto& c : cases) EXPECT_EQ(orientation_of(c.block), 1) << c.name;
}

TEST(Orientation, TurnsThePictureUpright)
{
    // Stored pixels a b c / d e f (3 x 2), one byte value each; what shows.
    const Picture stored = make_picture(3, 2, [](uint32_t x, uint32_t y, uint8_t* p) {
        p[0] = p[1] = p[2] = static_cast<uint8_t>('a' + y * 3 + x);
    });
    const struct {
        int value;
        uint32_t width;
        const char* shows;  // rows top to bottom
    } cases[] = {
        {1, 3, "abcdef"}, {2, 3, "cbafed"}, {3, 3, "fedcba"}, {4, 3, "defabc"},
        {5, 2, "adbecf"}, {6, 2, "daebfc"}, {7, 2, "fcebda"}, {8, 2, "cfbead"},
    };
    for (const auto& c : cases) {
        mkcard::RgbImage image{stored.width, stored.height, stored.rgb};
        mkcard::apply_orientation(&image, c.value);
        EXPECT_EQ(image.width, c.width) << c.value;
        std::string shows;
        for (size_t i = 0; i < image.rgb.size(); i += 3) shows += static_cast<char>(image.rgb[i]);
        EXPECT_EQ(shows, c.shows) << "orientation " << c.value;
    }
}

} // namespace
} // namespace mkcard_test
