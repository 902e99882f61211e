#pragma once
// The reference an MP3 stream is compared with: libmpg123 decoding the whole
// file the way the decoder model is set up to (every frame played, no
// gapless trimming, 16-bit samples).
#include <cstdint>
#include <vector>

namespace test_support {

struct Pcm {
    std::vector<int16_t> samples;  // interleaved
    int channels = 0;
    long rate = 0;
};

Pcm reference_decode(const std::vector<uint8_t>& mp3);

}  // namespace test_support
