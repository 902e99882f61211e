#include "tools/tessivo-mkcard/orientation.h"

#include <cstring>

namespace mkcard {

void apply_orientation(RgbImage* picture, int value)
{
    if (value < 2 || value > 8) return;
    const uint32_t w = picture->width, h = picture->height;
    const bool swap = value >= 5;
    RgbImage out;
    out.width = swap ? h : w;
    out.height = swap ? w : h;
    out.rgb.resize(picture->rgb.size());
    for (uint32_t y = 0; y < out.height; y++)
        for (uint32_t x = 0; x < out.width; x++) {
            // The stored pixel that shows at (x, y) once upright.
            uint32_t sx = x, sy = y;
            switch (value) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x, sy = h - 1 - y; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y, sy = x; break;
            case 6: sx = y, sy = h - 1 - x; break;
            case 7: sx = w - 1 - y, sy = h - 1 - x; break;
            case 8: sx = w - 1 - y, sy = x; break;
            }
            std::memcpy(&out.rgb[(static_cast<size_t>(y) * out.width + x) * 3],
                        &picture->rgb[(static_cast<size_t>(sy) * w + sx) * 3], 3);
        }
    *picture = std::move(out);
}

} // namespace mkcard
