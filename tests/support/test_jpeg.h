#pragma once
// JPEG files for tests, written and read back by libjpeg itself, and the
// EXIF block a camera puts in front of a photo.
#include <cstdint>
#include <vector>

namespace test_support {

// 8-bit RGB pixels, three per pixel, row 0 first.
struct RgbPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;
};

// How make_jpeg writes: grey keeps the red channel alone; cmyk writes four
// channels as CMYK; `app1`, when not empty, goes in as an APP1 segment.
struct JpegInput {
    bool grey = false;
    bool cmyk = false;
    bool progressive = false;
    std::vector<uint8_t> app1;
};

// A JPEG file written by libjpeg at quality 95 from `picture`.
std::vector<uint8_t> make_jpeg(const RgbPicture& picture, const JpegInput& how = {});
// The picture libjpeg itself decodes from `jpeg`, as 8-bit RGB.
RgbPicture decode_jpeg(const std::vector<uint8_t>& jpeg);
// An EXIF APP1 body ("Exif\0\0" and a TIFF structure in the given byte
// order) whose first directory holds the orientation tag with `value`.
std::vector<uint8_t> exif_orientation_block(int value, bool big_endian);

}  // namespace test_support
