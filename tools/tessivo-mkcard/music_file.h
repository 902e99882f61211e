// Checking that a file holds an MP3 stream.
#ifndef TESSIVO_MKCARD_MUSIC_FILE_H
#define TESSIVO_MKCARD_MUSIC_FILE_H

#include <cstdint>
#include <string>

namespace mkcard {

// Returns an empty string when `path` starts (after an optional ID3v2 tag)
// with MPEG audio frames that decode, otherwise the cause. `*size` gets the
// file's length in bytes.
std::string check_mp3(const std::string& path, uint64_t* size);

} // namespace mkcard

#endif
