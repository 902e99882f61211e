// Scaling and RGB565 packing of the panel frame.
#include "tools/tessivo-mkcard/panel_frame.h"

#include <algorithm>
#include <cmath>

namespace mkcard {
namespace {

// Weights of the source samples that make up one output sample along an axis.
struct Tap {
    uint32_t first = 0;         // first source index
    std::vector<float> weight;  // for first, first + 1, ...; they sum to 1
};

// Area averaging: each output sample covers src/dst source samples, partly
// covered ones at either end count with the covered fraction.
std::vector<Tap> shrink_taps(uint32_t src, uint32_t dst)
{
    std::vector<Tap> taps(dst);
    const double scale = static_cast<double>(src) / dst;
    for (uint32_t i = 0; i < dst; i++) {
        const double lo = i * scale;
        const double hi = std::min<double>((i + 1) * scale, src);
        const auto first = static_cast<uint32_t>(lo);
        const auto last = std::min<uint32_t>(static_cast<uint32_t>(std::ceil(hi)), src);
        Tap& t = taps[i];
        t.first = first;
        for (uint32_t s = first; s < last; s++) {
            const double cover = std::min<double>(hi, s + 1) - std::max<double>(lo, s);
            t.weight.push_back(static_cast<float>(cover / scale));
        }
    }
    return taps;
}

// Bilinear: sample centres mapped onto the source, edges clamped.
std::vector<Tap> enlarge_taps(uint32_t src, uint32_t dst)
{
    std::vector<Tap> taps(dst);
    const double scale = static_cast<double>(src) / dst;
    for (uint32_t i = 0; i < dst; i++) {
        const double pos = std::clamp((i + 0.5) * scale - 0.5, 0.0, static_cast<double>(src - 1));
        const auto first = static_cast<uint32_t>(pos);
        const double frac = pos - first;
        Tap& t = taps[i];
        t.first = first;
        t.weight.push_back(static_cast<float>(1.0 - frac));
        if (first + 1 < src) t.weight.push_back(static_cast<float>(frac));
    }
    return taps;
}

std::vector<Tap> taps_for(uint32_t src, uint32_t dst)
{
    return dst < src ? shrink_taps(src, dst) : enlarge_taps(src, dst);
}

uint16_t rgb565(unsigned r, unsigned g, unsigned b)
{
    return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

uint8_t to_byte(float v)
{
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

void put_pixel(std::vector<uint8_t>& frame, uint32_t x, uint32_t y, uint16_t px)
{
    const size_t at = (static_cast<size_t>(y) * kPanelWidth + x) * 2;
    frame[at] = static_cast<uint8_t>(px & 0xFF);
    frame[at + 1] = static_cast<uint8_t>(px >> 8);
}

} // namespace

Placement fit_to_panel(uint32_t width, uint32_t height)
{
    Placement p;
    if (width == 0 || height == 0) return p;
    // Compare aspect ratios exactly; the limited side fills the panel.
    if (static_cast<uint64_t>(width) * kPanelHeight >= static_cast<uint64_t>(height) * kPanelWidth) {
        p.width = kPanelWidth;
        p.height = static_cast<uint32_t>(
            (static_cast<uint64_t>(height) * kPanelWidth * 2 + width) / (2ull * width));
    } else {
        p.height = kPanelHeight;
        p.width = static_cast<uint32_t>(
            (static_cast<uint64_t>(width) * kPanelHeight * 2 + height) / (2ull * height));
    }
    p.width = std::clamp<uint32_t>(p.width, 1, kPanelWidth);
    p.height = std::clamp<uint32_t>(p.height, 1, kPanelHeight);
    p.x = (kPanelWidth - p.width) / 2;
    p.y = (kPanelHeight - p.height) / 2;
    return p;
}

std::vector<uint8_t> make_frame(const RgbImage& picture)
{
    std::vector<uint8_t> frame(kFrameBytes, 0);
    if (picture.width == 0 || picture.height == 0) return frame;

    if (picture.width == kPanelWidth && picture.height == kPanelHeight) {
        for (uint32_t y = 0; y < kPanelHeight; y++)
            for (uint32_t x = 0; x < kPanelWidth; x++) {
                const uint8_t* s = &picture.rgb[(static_cast<size_t>(y) * kPanelWidth + x) * 3];
                put_pixel(frame, x, y, rgb565(s[0], s[1], s[2]));
            }
        return frame;
    }

    const Placement p = fit_to_panel(picture.width, picture.height);
    const std::vector<Tap> across = taps_for(picture.width, p.width);
    const std::vector<Tap> down = taps_for(picture.height, p.height);

    // Horizontal pass over every source row, then vertical pass per column.
    std::vector<float> rows(static_cast<size_t>(picture.height) * p.width * 3);
    for (uint32_t y = 0; y < picture.height; y++) {
        const uint8_t* src = &picture.rgb[static_cast<size_t>(y) * picture.width * 3];
        float* dst = &rows[static_cast<size_t>(y) * p.width * 3];
        for (uint32_t x = 0; x < p.width; x++) {
            const Tap& t = across[x];
            float acc[3] = {0, 0, 0};
            for (size_t k = 0; k < t.weight.size(); k++)
                for (int c = 0; c < 3; c++) acc[c] += t.weight[k] * src[(t.first + k) * 3 + c];
            for (int c = 0; c < 3; c++) dst[x * 3 + c] = acc[c];
        }
    }
    for (uint32_t y = 0; y < p.height; y++) {
        const Tap& t = down[y];
        for (uint32_t x = 0; x < p.width; x++) {
            float acc[3] = {0, 0, 0};
            for (size_t k = 0; k < t.weight.size(); k++) {
                const float* src = &rows[((t.first + k) * static_cast<size_t>(p.width) + x) * 3];
                for (int c = 0; c < 3; c++) acc[c] += t.weight[k] * src[c];
            }
            put_pixel(frame, p.x + x, p.y + y, rgb565(to_byte(acc[0]), to_byte(acc[1]), to_byte(acc[2])));
        }
    }
    return frame;
}

} // namespace mkcard
