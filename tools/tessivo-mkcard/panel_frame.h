// Turning a picture into the panel's frame: 800 x 480 RGB565 pixels.
#ifndef TESSIVO_MKCARD_PANEL_FRAME_H
#define TESSIVO_MKCARD_PANEL_FRAME_H

#include <cstdint>
#include <vector>

#include "tools/tessivo-mkcard/picture_file.h"

namespace mkcard {

constexpr uint32_t kPanelWidth = 800;
constexpr uint32_t kPanelHeight = 480;
constexpr uint32_t kFrameBytes = kPanelWidth * kPanelHeight * 2;

// Where the picture lands on the panel; the rest stays black.
struct Placement {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// The largest area of the panel with the picture's aspect ratio, centred.
Placement fit_to_panel(uint32_t width, uint32_t height);

// The frame as the picture file stores it: 384,000 little-endian RGB565
// pixels, row 0 first. An 800 x 480 picture is taken pixel for pixel (top
// bits of each channel); other sizes are scaled into fit_to_panel's area
// (area averaging when shrinking, bilinear when enlarging) and letterboxed.
std::vector<uint8_t> make_frame(const RgbImage& picture);

} // namespace mkcard

#endif
