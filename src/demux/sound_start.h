#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/codecs/sound_codec.h"
#include "core/byte_file.h"
#include "demux/sound_output.h"

namespace morvane {

class DecodeWorker;
struct DemuxOptions;

// What both passes of a conversion, the chunk stream's and the IFF form's,
// do with sound: start an output for a header and copy its data into it.

// Sound data is read this much at a time.
inline constexpr std::size_t kReadPiece = 64 * 1024;

// A format as the messages tell it: its type, channels and rate.
std::string FormatText(const SoundFormat& format);

// Starts the output of a header: decoded when it can be, raw otherwise.
// Data kept undecoded is no whole conversion.
std::unique_ptr<SoundOutput> StartOutput(const SoundFormat& format, std::size_t number,
                                         const DemuxOptions& options, ConvertSink& sink, bool& whole);

// Copies `length` bytes at the input's position into the output, as far as
// the file goes: a costly codec's data is read straight into the output's
// jobs for `worker`; any other's, or all when `worker` is null (a movie
// takes the samples as they come), goes through `buffer` (kReadPiece
// bytes) and is decoded at once. Gives the bytes copied.
std::int64_t CopyData(ByteFile& input, std::int64_t length, std::int64_t fileSize, SoundOutput& output,
                      DecodeWorker* worker, unsigned char* buffer);

}  // namespace morvane
