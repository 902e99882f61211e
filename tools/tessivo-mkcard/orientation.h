// Turning a picture upright by its EXIF orientation.
#ifndef TESSIVO_MKCARD_ORIENTATION_H
#define TESSIVO_MKCARD_ORIENTATION_H

#include "tools/tessivo-mkcard/picture_file.h"

namespace mkcard {

// Applies orientation `value` (1..8, as EXIF numbers them: 2 mirrored,
// 3 turned half round, 4 flipped, 5 transposed, 6 to be turned a quarter
// clockwise, 7 transversed, 8 to be turned a quarter anticlockwise) to
// `picture`; 5 to 8 swap its width and height. Other values leave it as is.
void apply_orientation(RgbImage* picture, int value);

} // namespace mkcard

#endif
