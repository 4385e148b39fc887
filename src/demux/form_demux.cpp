#include "demux/form_demux.h"

#include <algorithm>
#include <optional>

#include "analysis/iff_form.h"
#include "core/errors.h"
#include "core/support.h"
#include "demux/decode_worker.h"
#include "demux/sound_start.h"
#include "demux/stream_demux.h"

namespace morvane {

bool DemuxForm(ByteFile& input, const std::string& path, const DemuxOptions& options, ConvertSink& sink) {
  const std::int64_t size = input.Size();
  if (size < kFormFirstChunk) {
    sink.Tell(path, "cut short: the FORM file ends before its form type");
    return false;
  }
  unsigned char head[kFormFirstChunk];
  input.Seek(0);
  input.Read(head, sizeof head);
  const unsigned char* formType = head + kFormTypeOffset;
  const bool aifc = IsId(formType, "AIFC");
  if (!aifc && !IsId(formType, "AIFF")) {
    sink.Tell(path, "a FORM file of type '" + IdText(formType) + "', which holds no sound this tool decodes");
    return false;
  }
  const std::int64_t formEnd =
      std::min<std::int64_t>(size, kIffHeaderSize + static_cast<std::uint32_t>(ReadBigEndian32(head + 4)));
  std::optional<SoundFormat> format;
  std::int64_t ssndBody = -1, ssndSize = 0;
  bool whole = true;
  IffChunks chunks(input, formEnd);
  for (IffChunk chunk; chunks.Next(chunk);) {
    if (IsId(chunk.id, "COMM") && !format) {
      const std::optional<CommonChunk> comm = ReadCommonChunk(input, chunk, aifc);
      if (!comm || (aifc && !comm->hasCompression)) {
        sink.Tell(path, "the COMM chunk at offset " + std::to_string(chunk.start) + " is cut short");
        return false;
      }
      format.emplace();
      format->channels = comm->channels;
      format->sampleSize = comm->sampleSize;
      format->rate = ExtendedRate(comm->rate);
      std::copy(comm->compression, comm->compression + 4, format->compression);
    } else if (IsId(chunk.id, "SSND") && ssndBody < 0) {
      ssndBody = chunk.body;
      ssndSize = chunk.bodySize;
    }
  }
  if (!format) {
    sink.Tell(path, "a FORM file without a COMM chunk: nothing says how its sound is coded");
    return false;
  }
  if (ssndBody < 0) {
    sink.Tell(path, "a FORM file without an SSND chunk: it holds no sound");
    return false;
  }
  if (size - ssndBody < kSsndDataOffset) {
    sink.Tell(path, "cut short: the file ends inside the SSND chunk's header");
    return false;
  }
  unsigned char ssndHead[kSsndDataOffset];
  input.Seek(ssndBody);
  input.Read(ssndHead, sizeof ssndHead);
  const std::int64_t dataStart =
      ssndBody + kSsndDataOffset + static_cast<std::uint32_t>(ReadBigEndian32(ssndHead));
  const std::int64_t length = std::max<std::int64_t>(0, ssndBody + ssndSize - dataStart);

  const std::unique_ptr<SoundOutput> output = StartOutput(*format, 0, options, sink, whole);
  std::int64_t copied = 0;
  {
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadPiece]);
    DecodeWorker worker(options.secondCore);
    try {
      if (dataStart < size) {
        input.Seek(dataStart);
        copied = CopyData(input, length, size, *output, &worker, buffer.get());
      }
    } catch (const CommandError&) {
      // What was read before the input failed is written.
      worker.Drain();
      throw;
    }
    worker.Drain();
  }
  if (copied < length) {
    sink.Tell(output->Name(), "cut short: the file ends inside the SSND data; " +
                                  std::to_string(length - copied) +
                                  " bytes missing, converted up to the cut");
    whole = false;
  }
  if (!output->Finish()) whole = false;
  return whole;
}

}  // namespace morvane
