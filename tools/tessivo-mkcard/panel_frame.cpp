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

// Taps over the part [offset, offset + src) of a row or column.
std::vector<Tap> taps_for(uint32_t offset, uint32_t src, uint32_t dst)
{
    std::vector<Tap> taps = dst < src ? shrink_taps(src, dst) : enlarge_taps(src, dst);
    for (Tap& t : taps) t.first += offset;
    return taps;
}

// RGB565 levels of a channel with `bits` bits and the 8-bit value each
// shows as (the top bits repeated into the low ones, as a panel expands them).
struct Levels {
    int bits;
    int max() const { return (1 << bits) - 1; }
    float shown(int q) const { return static_cast<float>((q << (8 - bits)) | (q >> (2 * bits - 8))); }
    int nearest(float v) const
    {
        const int q = static_cast<int>(std::lround(v * static_cast<float>(max()) / 255.0f));
        return std::clamp(q, 0, max());
    }
};
constexpr Levels kChannelLevels[3] = {{5}, {6}, {5}};

uint16_t pack565(const int q[3]) { return static_cast<uint16_t>((q[0] << 11) | (q[1] << 5) | q[2]); }

void put_pixel(std::vector<uint8_t>& frame, uint32_t x, uint32_t y, uint16_t px)
{
    const size_t at = (static_cast<size_t>(y) * kPanelWidth + x) * 2;
    frame[at] = static_cast<uint8_t>(px & 0xFF);
    frame[at + 1] = static_cast<uint8_t>(px >> 8);
}

// The placed area in 8-bit RGB before packing: `width` x `height`, three
// floats per pixel.
struct Area {
    uint32_t width, height;
    std::vector<float> rgb;
    float* at(uint32_t x, uint32_t y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Area scaled_area(const RgbImage& picture, const Placement& p)
{
    Area area{p.width, p.height, std::vector<float>(static_cast<size_t>(p.width) * p.height * 3)};
    const std::vector<Tap> across = taps_for(p.src_x, p.src_width, p.width);
    const std::vector<Tap> down = taps_for(p.src_y, p.src_height, p.height);
    // Horizontal pass over every source row used, then vertical pass per column.
    std::vector<float> rows(static_cast<size_t>(p.src_height) * p.width * 3);
    for (uint32_t y = 0; y < p.src_height; y++) {
        const uint8_t* src = &picture.rgb[static_cast<size_t>(p.src_y + y) * picture.width * 3];
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
                const float* src = &rows[((t.first - p.src_y + k) * static_cast<size_t>(p.width) + x) * 3];
                for (int c = 0; c < 3; c++) acc[c] += t.weight[k] * src[c];
            }
            // Rounded to whole 8-bit values, as a picture of that size would hold.
            for (int c = 0; c < 3; c++) area.at(x, y)[c] = std::clamp(std::round(acc[c]), 0.0f, 255.0f);
        }
    }
    return area;
}

Area copied_area(const RgbImage& picture, const Placement& p)
{
    Area area{p.width, p.height, std::vector<float>(static_cast<size_t>(p.width) * p.height * 3)};
    for (uint32_t y = 0; y < p.height; y++)
        for (uint32_t x = 0; x < p.width; x++) {
            const uint8_t* s = &picture.rgb[(static_cast<size_t>(p.src_y + y) * picture.width + p.src_x + x) * 3];
            for (int c = 0; c < 3; c++) area.at(x, y)[c] = s[c];
        }
    return area;
}

// Each channel keeps its top bits.
void pack_truncated(Area& area, const Placement& p, std::vector<uint8_t>& frame)
{
    for (uint32_t y = 0; y < area.height; y++)
        for (uint32_t x = 0; x < area.width; x++) {
            const float* v = area.at(x, y);
            int q[3];
            for (int c = 0; c < 3; c++) q[c] = static_cast<int>(v[c]) >> (8 - kChannelLevels[c].bits);
            put_pixel(frame, p.x + x, p.y + y, pack565(q));
        }
}

// Floyd-Steinberg error diffusion: each pixel takes the nearest RGB565
// level, and what that misses goes to the neighbours not yet packed (7/16
// right, 3/16 below left, 5/16 below, 1/16 below right), within the area.
void pack_dithered(Area& area, const Placement& p, std::vector<uint8_t>& frame)
{
    for (uint32_t y = 0; y < area.height; y++)
        for (uint32_t x = 0; x < area.width; x++) {
            float* v = area.at(x, y);
            int q[3];
            for (int c = 0; c < 3; c++) {
                const Levels& l = kChannelLevels[c];
                q[c] = l.nearest(v[c]);
                const float error = v[c] - l.shown(q[c]);
                const auto spread = [&](int dx, int dy, float share) {
                    const int nx = static_cast<int>(x) + dx;
                    const uint32_t ny = y + static_cast<uint32_t>(dy);
                    if (nx < 0 || static_cast<uint32_t>(nx) >= area.width || ny >= area.height) return;
                    area.at(static_cast<uint32_t>(nx), ny)[c] += error * share;
                };
                spread(1, 0, 7.0f / 16);
                spread(-1, 1, 3.0f / 16);
                spread(0, 1, 5.0f / 16);
                spread(1, 1, 1.0f / 16);
            }
            put_pixel(frame, p.x + x, p.y + y, pack565(q));
        }
}

} // namespace

Placement place_on_panel(uint32_t width, uint32_t height, Fit fit)
{
    Placement p;
    if (width == 0 || height == 0) return p;
    // Compare aspect ratios exactly: is the picture wider than the panel?
    const bool wider = static_cast<uint64_t>(width) * kPanelHeight >= static_cast<uint64_t>(height) * kPanelWidth;
    const auto scaled = [](uint32_t a, uint32_t num, uint32_t den) {
        return static_cast<uint32_t>((static_cast<uint64_t>(a) * num * 2 + den) / (2ull * den));
    };
    p.src_width = width;
    p.src_height = height;
    p.width = kPanelWidth;
    p.height = kPanelHeight;
    if (fit == Fit::Crop) {
        if (wider) p.src_width = std::clamp<uint32_t>(scaled(height, kPanelWidth, kPanelHeight), 1, width);
        else p.src_height = std::clamp<uint32_t>(scaled(width, kPanelHeight, kPanelWidth), 1, height);
        p.src_x = (width - p.src_width) / 2;
        p.src_y = (height - p.src_height) / 2;
        return p;
    }
    if (wider) p.height = std::clamp<uint32_t>(scaled(height, kPanelWidth, width), 1, kPanelHeight);
    else p.width = std::clamp<uint32_t>(scaled(width, kPanelHeight, height), 1, kPanelWidth);
    p.x = (kPanelWidth - p.width) / 2;
    p.y = (kPanelHeight - p.height) / 2;
    return p;
}

void expand565(uint16_t pixel, uint8_t rgb[3])
{
    const int q[3] = {pixel >> 11, (pixel >> 5) & 63, pixel & 31};
    for (int c = 0; c < 3; c++) rgb[c] = static_cast<uint8_t>(kChannelLevels[c].shown(q[c]));
}

std::vector<uint8_t> make_frame(const RgbImage& picture, const FrameOptions& options)
{
    std::vector<uint8_t> frame(kFrameBytes, 0);
    if (picture.width == 0 || picture.height == 0) return frame;
    const Placement p = place_on_panel(picture.width, picture.height, options.fit);
    const bool one_to_one = p.src_width == p.width && p.src_height == p.height;
    Area area = one_to_one ? copied_area(picture, p) : scaled_area(picture, p);
    if (options.dither) pack_dithered(area, p, frame);
    else pack_truncated(area, p, frame);
    return frame;
}

} // namespace mkcard
