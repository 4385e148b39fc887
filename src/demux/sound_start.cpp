#include "demux/sound_start.h"

#include <algorithm>

#include "core/support.h"
#include "demux/decode_worker.h"
#include "demux/stream_demux.h"

namespace morvane {

std::string FormatText(const SoundFormat& format) {
  return "compression type '" + IdText(format.compression) + "', " + DecimalText(format.channels) +
         (format.channels == 1 ? " channel" : " channels") + ", " + DecimalText(format.rate) + " Hz";
}

std::unique_ptr<SoundOutput> StartOutput(const SoundFormat& format, std::size_t number,
                                         const DemuxOptions& options, ConvertSink& sink, bool& whole) {
  SoundFormat used = format;
  if (options.rate) used.rate = *options.rate;
  std::string why;
  const SoundCodec* codec = FindSoundCodec(used, why);
  const std::string rawPath = options.outputBase + std::to_string(number) + kSoundSuffix;
  // Only a film shared: the sound is decoded for it, and written nowhere.
  if (options.shareFilm)
    return std::make_unique<SoundOutput>(codec, used, std::string(), std::string(), sink);
  const bool keepRaw = options.keepSound || codec == nullptr;
  if (codec == nullptr) {
    sink.Tell(rawPath, FormatText(used) + ": kept undecoded" + (why.empty() ? "" : " (" + why + ")"));
    whole = false;
  }
  auto output = std::make_unique<SoundOutput>(codec, used, keepRaw ? rawPath : std::string(),
                                              options.outputBase + std::to_string(number) + kWavSuffix, sink);
  if (options.secondCore && !output->DecodedAside()) output->WriteBehind();
  return output;
}

std::int64_t CopyData(ByteFile& input, std::int64_t length, std::int64_t fileSize, SoundOutput& output,
                      DecodeWorker* worker, unsigned char* buffer) {
  const std::int64_t available = std::max<std::int64_t>(0, std::min(length, fileSize - input.Position()));
  if (!output.DecodedAside()) worker = nullptr;
  for (std::int64_t done = 0; done < available;) {
    const std::int64_t left = available - done;
    std::size_t piece = 0;
    if (worker) {
      unsigned char* room = worker->Room(output, piece);
      piece = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(piece), left));
      input.Read(room, piece);
      worker->Filled(output, piece);
    } else {
      piece = static_cast<std::size_t>(std::min<std::int64_t>(left, kReadPiece));
      input.Read(buffer, piece);
      output.Take(buffer, piece);
    }
    done += static_cast<std::int64_t>(piece);
  }
  return available;
}

}  // namespace morvane
