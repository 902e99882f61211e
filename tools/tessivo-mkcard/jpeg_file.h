// Reading a JPEG photo as 8-bit RGB, turned upright by its EXIF orientation.
#ifndef TESSIVO_MKCARD_JPEG_FILE_H
#define TESSIVO_MKCARD_JPEG_FILE_H

#include <string>

#include "tools/tessivo-mkcard/picture_file.h"

namespace mkcard {

// Reads `path` (baseline or progressive, colour or grey) into `out`. Returns
// an empty string on success, otherwise the cause ("damaged JPEG: ...").
std::string read_jpeg(const std::string& path, RgbImage* out);

} // namespace mkcard

#endif
