#include "tools/tessivo-mkcard/preview.h"

#include <png.h>

#include "tools/common/temp_file.h"
#include "tools/tessivo-mkcard/panel_frame.h"

namespace mkcard {
namespace {

// The player's square: full green, corners (99, 99) and (199, 199) inclusive.
constexpr uint32_t kSquareFirst = 99, kSquareLast = 199;
constexpr uint16_t kSquareColour = 0x07E0;

} // namespace

std::string write_preview(const std::vector<uint8_t>& frame, const std::string& path)
{
    std::vector<uint8_t> rgb(static_cast<size_t>(kPanelWidth) * kPanelHeight * 3);
    for (uint32_t y = 0; y < kPanelHeight; y++)
        for (uint32_t x = 0; x < kPanelWidth; x++) {
            const size_t i = static_cast<size_t>(y) * kPanelWidth + x;
            const bool square = x >= kSquareFirst && x <= kSquareLast && y >= kSquareFirst && y <= kSquareLast;
            const uint16_t px = square ? kSquareColour : static_cast<uint16_t>(frame[2 * i] | frame[2 * i + 1] << 8);
            expand565(px, &rgb[i * 3]);
        }

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kPanelWidth;
    image.height = kPanelHeight;
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr))
        return path + ": cannot encode the preview: " + image.message;
    std::vector<uint8_t> png(size);
    const int encoded = png_image_write_to_memory(&image, png.data(), &size, 0, rgb.data(), 0, nullptr);
    png_image_free(&image);
    if (!encoded) return path + ": cannot encode the preview: " + image.message;

    std::string why;
    if (!tools::write_whole_file(path, png.data(), size, &why)) return why;
    return {};
}

} // namespace mkcard
