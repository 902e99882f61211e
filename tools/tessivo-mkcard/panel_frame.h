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

enum class Fit {
    Letterbox,  // the whole picture, black bars where its shape differs
    Crop,       // the panel filled, the picture's overhang cut off evenly
};

struct FrameOptions {
    Fit fit = Fit::Letterbox;
    // Error diffusion to RGB565: smooth gradients instead of bands, at the
    // price of a fine grain. Without it each channel keeps its top bits.
    bool dither = false;
};

// Which part of the picture is shown where on the panel; the rest of the
// panel stays black.
struct Placement {
    uint32_t x = 0, y = 0, width = 0, height = 0;              // area on the panel
    uint32_t src_x = 0, src_y = 0, src_width = 0, src_height = 0;  // part of the picture
};

// Letterbox: the largest centred area with the picture's aspect ratio, the
// whole picture in it. Crop: the whole panel, from the largest centred part
// of the picture with the panel's aspect ratio.
Placement place_on_panel(uint32_t width, uint32_t height, Fit fit);

// The frame as the picture file stores it: 384,000 little-endian RGB565
// pixels, row 0 first. A picture part of 800 x 480 is taken pixel for pixel;
// other sizes are scaled (area averaging when shrinking, bilinear when
// enlarging).
std::vector<uint8_t> make_frame(const RgbImage& picture, const FrameOptions& options = {});

// The 8-bit RGB a panel shows for an RGB565 pixel: each channel's bits
// repeated into the low bits (31 -> 255, 0 -> 0).
void expand565(uint16_t pixel, uint8_t rgb[3]);

} // namespace mkcard

#endif
