#pragma once

#include <string>

#include "core/byte_file.h"
#include "demux/sound_output.h"

namespace morvane {

struct DemuxOptions;

// An IFF file: an AIFC (or AIFF) form's COMM chunk says how its SSND data
// is coded; that data becomes output 0. Gives whether it converted whole.
bool DemuxForm(ByteFile& input, const std::string& path, const DemuxOptions& options, ConvertSink& sink);

}  // namespace morvane
