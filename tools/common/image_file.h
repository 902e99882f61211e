// Helpers for host programs that make disk image files: sizes written like
// "64M", and image files sized sparsely.
#ifndef TESSIVO_TOOLS_COMMON_IMAGE_FILE_H
#define TESSIVO_TOOLS_COMMON_IMAGE_FILE_H

#include <cstdint>
#include <string>

namespace tools {

// SIZE: a number of bytes with an optional K, M, G or T suffix (powers of
// 1024, an extra B allowed: "64M", "64MB", "2g"). False on anything else or
// on overflow.
bool parse_size(const std::string& text, uint64_t* out);

// Sets the length of the open file `fd` to `bytes` rounded down to whole
// 512-byte sectors. New space is a hole, not written data. On failure returns
// false with the cause in `why`.
bool size_image(int fd, uint64_t bytes, std::string* why);

} // namespace tools

#endif
