#pragma once

#include <vector>

namespace morvane {

// The demo disc: an image of 2048-byte blocks labelled "MORVANE DEMO" that
// holds the demo stream (MOVIES/INTRO.STR), a second stream of sound alone
// at 11025 Hz (MOVIES/MORE/LOOP.STR), an AIFC file of SDX2 sound
// (MUSIC/THEME.AIFC) and a text (README.TXT).
std::vector<unsigned char> DemoDiscBytes();

}  // namespace morvane
