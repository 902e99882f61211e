// The frame the board will show, as a PNG picture: the card's picture with
// the green square the player draws over it.
#ifndef TESSIVO_MKCARD_PREVIEW_H
#define TESSIVO_MKCARD_PREVIEW_H

#include <cstdint>
#include <string>
#include <vector>

namespace mkcard {

// Writes `frame` (the picture file's 768,000 bytes) with the square as an
// 800 x 480 8-bit RGB PNG at `path`, which is replaced only once the file is
// complete. Returns an empty string on success, otherwise a message naming
// the file and the cause.
std::string write_preview(const std::vector<uint8_t>& frame, const std::string& path);

} // namespace mkcard

#endif
