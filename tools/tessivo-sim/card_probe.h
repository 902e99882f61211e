#pragma once
// What the player will find on the card: a FAT volume, LOL.RAW and LOL.MP3,
// asked before the run through the firmware's own card driver and FAT
// module on a board of its own, in a child process, so that the run itself
// starts from the power-up state of every firmware global.
#include <optional>

#include "sim/card_model.h"
#include "sim/disk_image.h"
#include "tools/common/card_check.h"

namespace tessivo_sim {

// Nothing when the child could not be run or gave no answer.
std::optional<tools::CardFacts> probe_card(sim::DiskImage& image, sim::CardKind kind);

}  // namespace tessivo_sim
