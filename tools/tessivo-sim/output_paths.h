#pragma once
// The files a run writes at its end, checked before it starts, so that a
// long run is not lost to a wrong path and nothing of the user's is written
// over by mistake.
#include <string>

#include "tools/tessivo-sim/options.h"

namespace tessivo_sim {

// Every output of `o` can be written: its folder exists and may be written,
// it is not a folder, not the card image `card_path` (empty: none), not the
// image for the chip and not another output. Returns an empty string, or one line for the first that
// fails ("PATH: cannot write the panel picture: No such file or directory").
std::string check_outputs(const Options& o, const std::string& card_path);

}  // namespace tessivo_sim
