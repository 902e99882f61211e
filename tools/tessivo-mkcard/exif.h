// The orientation a camera recorded in a photo's EXIF block. The block comes
// from the file, so every offset in it is checked before it is followed.
#ifndef TESSIVO_MKCARD_EXIF_H
#define TESSIVO_MKCARD_EXIF_H

#include <cstddef>
#include <cstdint>

namespace mkcard {

// The EXIF orientation (1..8: how the stored pixels must be turned to stand
// upright) in the body of a JPEG APP1 segment ("Exif\0\0" and a TIFF
// structure). 1, "as stored", when the segment is no EXIF block, holds no
// orientation, or is damaged.
int exif_orientation(const uint8_t* app1, size_t size);

} // namespace mkcard

#endif
