// Assembling the card image: format with the FAT module, write the two files.
#ifndef TESSIVO_MKCARD_CARD_IMAGE_H
#define TESSIVO_MKCARD_CARD_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace mkcard {

struct CardRequest {
    std::string output;          // card image to make (replaced only on success)
    uint64_t size = 64ull << 20; // bytes, rounded down to whole sectors
    bool whole_card = false;     // no partition table (volume from sector 0)
    std::vector<uint8_t> frame;  // contents of LOL.RAW
    std::string music;           // file copied to LOL.MP3 byte for byte
    uint64_t music_size = 0;
};

// Builds the card in a temporary file beside `output` and renames it into
// place at the end; on failure nothing is left behind. Returns an empty
// string on success (with the volume's FAT width, 12, 16 or 32, in
// `fat_bits`), otherwise a one-line message naming the file at fault and the
// cause.
std::string make_card(const CardRequest& req, unsigned* fat_bits);

} // namespace mkcard

#endif
