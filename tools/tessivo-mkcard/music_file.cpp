// MP3 check with libmpg123 in feed mode: the file is fed a piece at a time
// until a few frames have decoded, so a long file is not read whole.
#include "tools/tessivo-mkcard/music_file.h"

#include <mpg123.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace mkcard {
namespace {

// Frames that must decode in a row before the file counts as an MP3 stream
// (fewer if the file ends first): one lucky sync word in other data is not enough.
constexpr int kFramesToCheck = 4;
// Junk tolerated in front of the first frame (an ID3v2 tag is skipped apart).
constexpr long kResyncLimit = 4096;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
struct HandleDeleter {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};

} // namespace

std::string check_mp3(const std::string& path, uint64_t* size)
{
    std::unique_ptr<FILE, FileCloser> fp(std::fopen(path.c_str(), "rb"));
    if (!fp) return std::strerror(errno);
    if (std::fseek(fp.get(), 0, SEEK_END) != 0) return std::strerror(errno);
    const long length = std::ftell(fp.get());
    if (length < 0) return std::strerror(errno);
    std::rewind(fp.get());
    *size = static_cast<uint64_t>(length);
    if (length == 0) return "empty file, not an MP3 stream";

    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, HandleDeleter> mh(mpg123_new(nullptr, &err));
    if (!mh) return std::string("cannot start the MP3 decoder: ") + mpg123_plain_strerror(err);
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_NO_RESYNC, 0);
    mpg123_param(mh.get(), MPG123_RESYNC_LIMIT, kResyncLimit, 0);
    if (mpg123_open_feed(mh.get()) != MPG123_OK) return "cannot start the MP3 decoder";

    std::vector<unsigned char> chunk(64 * 1024);
    int frames = 0;
    bool at_end = false;
    for (;;) {
        off_t num = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int rc = mpg123_decode_frame(mh.get(), &num, &audio, &bytes);
        if (rc == MPG123_OK) {
            if (++frames >= kFramesToCheck) return {};
        } else if (rc == MPG123_NEW_FORMAT) {
            continue;
        } else if (rc == MPG123_NEED_MORE) {
            if (at_end) break;
            errno = 0;
            const size_t n = std::fread(chunk.data(), 1, chunk.size(), fp.get());
            if (std::ferror(fp.get())) return errno ? std::strerror(errno) : "cannot read the file";
            if (n == 0) {
                at_end = true;
                continue;
            }
            if (mpg123_feed(mh.get(), chunk.data(), n) != MPG123_OK) return "cannot feed the MP3 decoder";
        } else if (rc == MPG123_DONE) {
            break;
        } else {
            return frames > 0 ? "damaged MP3 stream" : "not an MP3 stream";
        }
    }
    return frames > 0 ? std::string() : "not an MP3 stream";
}

} // namespace mkcard
