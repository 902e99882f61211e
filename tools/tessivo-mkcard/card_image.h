// Assembling the card: format with the FAT module, write the two files.
#ifndef TESSIVO_MKCARD_CARD_IMAGE_H
#define TESSIVO_MKCARD_CARD_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace mkcard {

constexpr uint64_t kDefaultCardBytes = 64ull << 20;

struct CardRequest {
    std::string output;          // image file or card's block device
    uint64_t size = 0;           // bytes, rounded down to whole sectors; 0: a card's own size, else 64M
    bool whole_card = false;     // no partition table (volume from sector 0)
    std::vector<uint8_t> frame;  // contents of LOL.RAW
    std::string music;           // file copied to LOL.MP3 byte for byte
    uint64_t music_size = 0;
};

// Builds the card in a temporary image and only then puts it in place: an
// image file is renamed over the old one; on a card's block device (refused
// while mounted, and not with a size of its own) the parts of the image that
// hold data are written to the card, which is flushed at the end. On failure
// the output is as it was and nothing is left behind. Returns an empty
// string on success (with the volume's FAT width, 12, 16 or 32, in
// `fat_bits`), otherwise a one-line message naming the file at fault and the
// cause.
std::string make_card(const CardRequest& req, unsigned* fat_bits);

} // namespace mkcard

#endif
