// Reading a picture (PNG of any colour type and bit depth, or JPEG) as 8-bit
// RGB.
#ifndef TESSIVO_MKCARD_PICTURE_FILE_H
#define TESSIVO_MKCARD_PICTURE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace mkcard {

// Three bytes per pixel (red, green, blue), rows top to bottom.
struct RgbImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;
};

// Pictures beyond these are refused before any pixel memory is allocated.
constexpr uint32_t kMaxPictureSide = 32768;
constexpr uint64_t kMaxPicturePixels = 64ull << 20;

// Why a picture of this size is refused ("picture too large (...)"), or an
// empty string when it is taken.
std::string size_refusal(uint32_t width, uint32_t height);

// Reads `path` into `out`: palettes and grey expanded, 16-bit samples cut to
// their high byte, alpha composited onto black. Returns an empty string on
// success, otherwise the cause ("not a PNG file", ...).
std::string read_png(const std::string& path, RgbImage* out);

// Reads a PNG or a JPEG file (told apart by their first bytes) into `out`;
// a JPEG photo is turned upright by its EXIF orientation. Returns an empty
// string on success, otherwise the cause ("not a PNG or JPEG file", ...).
std::string read_picture(const std::string& path, RgbImage* out);

} // namespace mkcard

#endif
