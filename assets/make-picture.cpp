// Draws the demo card's picture: an evening landscape (sky gradient, sun,
// rolling hills and a lake that mirrors the sky), 800 x 480, written as PNG
// and dithered for the panel's RGB565 pixels.
//
//   tessivo-demo-picture OUT.png
//
// Deterministic: the same program always draws the same pixels.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 480;
constexpr int kHorizon = 330;  // where the lake begins

struct Rgb {
    float r, g, b;
};

Rgb mix(Rgb a, Rgb b, float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

float smooth(float edge0, float edge1, float x)
{
    const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

// Sky from deep blue at the top through violet to a warm glow at the horizon,
// brightened around the sun.
Rgb sky(float x, float y)
{
    const float t = y / kHorizon;
    Rgb c = t < 0.55f ? mix({22, 34, 92}, {120, 72, 140}, t / 0.55f)
                      : mix({120, 72, 140}, {250, 160, 90}, (t - 0.55f) / 0.45f);
    const float d = std::hypot(x - 560.0f, y - 250.0f);
    const float glow = std::exp(-d / 110.0f);
    c = mix(c, {255, 214, 140}, glow * 0.8f);
    const float disc = 1.0f - smooth(38.0f, 40.0f, d);
    return mix(c, {255, 240, 200}, disc);
}

// Height of a hill line above the horizon at column x.
float ridge(float x, float base, float a1, float f1, float a2, float f2, float phase)
{
    return base + a1 * std::sin(x * f1 + phase) + a2 * std::sin(x * f2 + phase * 1.7f);
}

Rgb land(float x, float y, Rgb background)
{
    struct Hill {
        float base, a1, f1, a2, f2, phase;
        Rgb colour;
    };
    static const Hill hills[] = {
        {95, 28, 0.006f, 10, 0.021f, 0.5f, {92, 70, 120}},   // far, hazy
        {60, 22, 0.009f, 8, 0.027f, 2.1f, {48, 96, 84}},     // middle
        {28, 16, 0.013f, 6, 0.034f, 4.0f, {30, 70, 48}},     // near
    };
    Rgb c = background;
    for (const Hill& h : hills) {
        const float top = kHorizon - ridge(x, h.base, h.a1, h.f1, h.a2, h.f2, h.phase);
        c = mix(c, h.colour, smooth(top - 0.8f, top + 0.8f, y));
    }
    return c;
}

Rgb scene(float x, float y)
{
    if (y < kHorizon) return land(x, y, sky(x, y));
    // The lake mirrors the scene above it, darker and rippled with depth.
    const float depth = y - kHorizon;
    const float ripple = 3.0f * std::sin(depth * 0.35f) * smooth(0, 60, depth);
    const float my = std::max(0.0f, kHorizon - depth - 1);
    const Rgb mirrored = land(x + ripple, my, sky(x + ripple, my));
    return mix(mirrored, {12, 24, 52}, 0.25f + 0.5f * depth / (kHeight - kHorizon));
}

// The panel shows 5 bits of red and blue and 6 of green, so smooth gradients
// would band. Each channel is dithered to those levels (ordered, 4 x 4) and
// stored as an 8-bit value whose top bits are the level: the picture then
// survives the conversion to RGB565 unchanged.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

uint8_t dither(float value, int bits, float threshold)
{
    const int top = (1 << bits) - 1;
    const int level = std::clamp(static_cast<int>(std::floor(value / 255.0f * top + threshold)), 0, top);
    return static_cast<uint8_t>((level << (8 - bits)) | (level >> (2 * bits - 8)));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessivo-demo-picture OUT.png\n");
        return 2;
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 3);
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++) {
            // 2 x 2 samples per pixel for smooth edges.
            Rgb acc{0, 0, 0};
            for (int s = 0; s < 4; s++) {
                const Rgb c = scene(x + 0.25f + 0.5f * (s & 1), y + 0.25f + 0.5f * (s >> 1));
                acc = {acc.r + c.r / 4, acc.g + c.g / 4, acc.b + c.b / 4};
            }
            uint8_t* p = &pixels[(static_cast<size_t>(y) * kWidth + x) * 3];
            const float threshold = (kBayer[y & 3][x & 3] + 0.5f) / 16;
            p[0] = dither(acc.r, 5, threshold);
            p[1] = dither(acc.g, 6, threshold);
            p[2] = dither(acc.b, 5, threshold);
        }

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kWidth;
    image.height = kHeight;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, argv[1], 0, pixels.data(), 0, nullptr)) {
        std::fprintf(stderr, "tessivo-demo-picture: %s: %s\n", argv[1], image.message);
        return 1;
    }
    return 0;
}
