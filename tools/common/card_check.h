// What the player will find on a card: a FAT volume, the picture LOL.RAW and
// the music LOL.MP3 in its root, asked through the firmware's own FAT module
// on drive 0, whichever disk backend the program links.
#ifndef TESSIVO_TOOLS_COMMON_CARD_CHECK_H
#define TESSIVO_TOOLS_COMMON_CARD_CHECK_H

#include <string>
#include <vector>

#include "fatfs/ff.h"

namespace tools {

struct CardFile {
    FRESULT found = FR_NO_FILE;  // f_stat's result
    DWORD size = 0;
    BYTE attrib = 0;
};

struct CardFacts {
    FRESULT volume = FR_NOT_READY;  // FR_OK when a FAT volume mounts
    CardFile picture;               // LOL.RAW
    CardFile music;                 // LOL.MP3
};

// Looks at drive 0 the way the player does (card initialised, volume
// mounted, names relative to the root); reads only.
CardFacts check_card();

struct CardVerdict {
    bool picture = false;  // the board shows the picture from the card
    bool music = false;    // the board plays music from the card
    // What the board will do about each finding that is not a good picture
    // or good music, one sentence each ("LOL.MP3 is missing: ...").
    std::vector<std::string> findings;
};

CardVerdict judge_card(const CardFacts& facts);

} // namespace tools

#endif
