#include "tests/support/reference_mp3.h"

#include <mpg123.h>

namespace test_support {

Pcm reference_decode(const std::vector<uint8_t>& mp3) {
    mpg123_init();
    Pcm out;
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(mh);
    mpg123_feed(mh, mp3.data(), mp3.size());
    for (;;) {
        off_t frame = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int r = mpg123_decode_frame(mh, &frame, &audio, &bytes);
        if (r == MPG123_NEW_FORMAT) continue;
        if (r != MPG123_OK) break;
        if (out.channels == 0) {
            int encoding = 0;
            mpg123_getformat(mh, &out.rate, &out.channels, &encoding);
        }
        const auto* s = reinterpret_cast<const int16_t*>(audio);
        out.samples.insert(out.samples.end(), s, s + bytes / 2);
    }
    mpg123_delete(mh);
    return out;
}

}  // namespace test_support
