// Helpers for the tessivo-mkcard tests: running the program, making PNG and
// MP3 inputs, reading cards back with mtools and checking them with fsck.fat.
#ifndef TESSIVO_TESTS_MKCARD_SUPPORT_H
#define TESSIVO_TESTS_MKCARD_SUPPORT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_jpeg.h"

namespace mkcard_test {

using Bytes = std::vector<uint8_t>;
using test_support::decode_jpeg;
using test_support::exif_orientation_block;
using test_support::JpegInput;
using test_support::make_jpeg;

constexpr uint32_t kPanelWidth = 800;
constexpr uint32_t kPanelHeight = 480;
constexpr uint64_t kPartitionOffset = 63 * 512;  // volume start behind a partition table

// A fresh directory, removed with everything in it at the end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> entries() const;  // names in the directory, sorted

private:
    std::string dir_;
};

struct RunResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs tessivo-mkcard with `args`; `file_size_limit` (bytes, 0 = none) caps
// the size of files it may create, as a nearly full disk would.
RunResult run_mkcard(const std::vector<std::string>& args, uint64_t file_size_limit = 0);

// Runs a shell command; returns its exit status, output and errors in `out`.
int shell(const std::string& command, std::string* out = nullptr);

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& data);

// 8-bit RGB pixels, three per pixel, row 0 first.
using Picture = test_support::RgbPicture;
Picture make_picture(uint32_t width, uint32_t height,
                     const std::function<void(uint32_t x, uint32_t y, uint8_t* rgb)>& pixel);

// Writes a PNG through libpng's own writer. `samples` holds one row after
// another in the PNG's own layout for `color_type` and `bit_depth` (packed
// for depths below 8, big-endian for 16); `palette`/`trns` go into PLTE/tRNS.
struct PngInput {
    uint32_t width = 0;
    uint32_t height = 0;
    int color_type = 2;  // PNG_COLOR_TYPE_RGB
    int bit_depth = 8;
    bool interlaced = false;
    Bytes samples;
    Bytes palette;  // r, g, b per entry
    Bytes trns;     // alpha per palette entry
};
void write_png(const std::string& path, const PngInput& in);
void write_rgb_png(const std::string& path, const Picture& picture);

// A PNG that has a header but almost no pixel data: enough for a reader to
// learn the size.
Bytes png_header_only(uint32_t width, uint32_t height);

// An MP3 stream of silent MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz,
// mono) whose ancillary bytes carry a pattern, behind an ID3v2 tag.
Bytes make_mp3(int frames);

// An 8-bit RGB PNG as libpng reads it (empty on failure).
Picture read_png_rgb(const std::string& path);

// RGB565 frame as the picture file stores it, from an 800 x 480 picture.
Bytes expected_frame(const Picture& picture);
uint16_t pixel_at(const Bytes& frame, uint32_t x, uint32_t y);
// The 8-bit RGB a panel shows for an RGB565 pixel (bits repeated downwards).
void shown_rgb(uint16_t px, uint8_t* rgb);
// What the board shows for a frame: the pixels as the panel shows them, with
// the green square at (99, 99)..(199, 199) on top.
Picture board_view(const Bytes& frame);

// Copies a file out of the card's volume with mtools (empty on failure).
Bytes card_file(const std::string& card, uint64_t offset, const std::string& name,
                const std::string& scratch);

// fsck.fat -n on the card's volume; returns its exit status, output in `out`.
int fsck_volume(const std::string& card, uint64_t offset, const std::string& scratch, std::string* out);

} // namespace mkcard_test

#endif
