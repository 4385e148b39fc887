#include "audio/wav_image.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

#include "audio/image_room.h"
#include "audio/sdx2.h"
#include "core/errors.h"
#include "core/support.h"
#include "core/window.h"

namespace morvane {

namespace {

constexpr std::size_t kInputBytesPerFrame = 2;
// With ProgressStep 2 the gauge moves one unit per input byte consumed.
constexpr std::uint8_t kFrameProgressStep = 2;
// The file is loaded, and the image saved, in pieces of this size, so that
// the window can look at its queue in between.
constexpr std::size_t kFilePiece = std::size_t{2} << 20;
// The decode lengthens the image by this many frames at a time, so that
// making room never holds the window up either.
constexpr std::size_t kFramesPerGrowth = std::size_t{1} << 18;
// Frames decoded between two looks at the gauge and the queue: a few
// microseconds of work.
constexpr std::size_t kFramesPerLook = 2048;

const char kOutOfMemory[] = "Out of memory while expanding memory stream";
const char kStreamReadError[] = "Stream read error";
const char kStreamWriteError[] = "Stream write error";

// Runs the work with a failure to get memory raised as the error the user sees.
template <typename Work>
void WithMemoryFailureAsError(Work work) {
  try {
    work();
  } catch (const std::bad_alloc&) {
    throw CommandError(kNoFileCode, kOutOfMemory);
  } catch (const std::length_error&) {
    throw CommandError(kNoFileCode, kOutOfMemory);
  }
}

// Runs file work with a failure of the file layer raised under the text
// the user sees for it.
template <typename Work>
void WithFileFailureAs(const std::string& text, Work work) {
  try {
    work();
  } catch (const CommandError&) {
    throw CommandError(kNoFileCode, text);
  }
}

// Reads the whole file by name into the image, read position 0.
void LoadWholeFile(const std::string& path, ByteImage& source, Window& window) {
  ByteFile file;
  WithFileFailureAs("Cannot open file " + path, [&] { file.Open(path, ByteFile::Mode::kRead); });
  WithFileFailureAs(kStreamReadError, [&] {
    const auto size = static_cast<std::size_t>(file.Size());
    source.bytes.reserve(size);
    AdviseLargePages(source.bytes);
    while (source.bytes.size() < size) {
      const std::size_t done = source.bytes.size();
      const std::size_t piece = std::min(kFilePiece, size - done);
      source.bytes.resize(done + piece);
      file.Read(source.bytes.data() + done, piece);
      window.KeepResponsive();
    }
    file.Close();
  });
  source.position = 0;
}

void SaveWholeImage(const ByteImage& wave, const std::string& path, Window& window) {
  ByteFile file;
  WithFileFailureAs("Cannot create file " + path, [&] { file.Open(path, ByteFile::Mode::kCreate); });
  // What reached the disk before a failure stays there.
  WithFileFailureAs(kStreamWriteError, [&] {
    for (std::size_t done = 0; done < wave.bytes.size();) {
      const std::size_t piece = std::min(kFilePiece, wave.bytes.size() - done);
      file.Write(wave.bytes.data() + done, piece);
      done += piece;
      window.KeepResponsive();
    }
    file.Close();
  });
}

// Releases the images of a run from the shared state however the run ends,
// unless the run hands them on (Keep). Images that a command started from
// the message pump put there in the meantime are not touched.
class ImageRelease {
 public:
  ImageRelease(SharedState& state, std::shared_ptr<ByteImage> source, std::shared_ptr<ByteImage> wave)
      : state_(state), source_(std::move(source)), wave_(std::move(wave)) {}
  ImageRelease(const ImageRelease&) = delete;
  ImageRelease& operator=(const ImageRelease&) = delete;
  ~ImageRelease() {
    if (keep_) return;
    if (state_.SourceImage == source_) state_.SourceImage.reset();
    if (state_.WaveImage == wave_) state_.WaveImage.reset();
  }
  void Keep() { keep_ = true; }
  // Lets the loaded file go once it is decoded: its memory is then at hand
  // again for the save.
  void ReleaseSource() {
    if (state_.SourceImage == source_) state_.SourceImage.reset();
    source_.reset();
  }

 private:
  SharedState& state_;
  std::shared_ptr<ByteImage> source_;
  std::shared_ptr<ByteImage> wave_;
  bool keep_ = false;
};

// The frame loop shared by the conversion and PLAY: decodes SourceImage from
// offset 140 into WaveImage after its header, then fills the gauge and
// patches the two sizes. Gives the image it built.
std::shared_ptr<ByteImage> DecodeIntoWave(SharedState& state, Window& window) {
  // The loop holds its own references: the message pump may run a command
  // that puts new images into the shared state.
  const std::shared_ptr<ByteImage> source = state.SourceImage;
  const std::shared_ptr<ByteImage> wave = state.WaveImage;
  // Only a freshly prepared image is filled: one already decoded may be in
  // the player's hands, and must not change under it.
  if (!source || !wave || wave->bytes.size() != kWavHeaderSize) throw CommandError(kFileNotOpen);

  // The first 140 bytes of a sound file are never decoded. A shorter file
  // gives no frame, and a lone byte left at the end is no frame either.
  const std::size_t length = source->bytes.size();
  const std::size_t frames =
      length > DecodeStartOffset ? (length - DecodeStartOffset) / kInputBytesPerFrame : 0;
  source->position = std::min(length, DecodeStartOffset);

  Sdx2State decoder;
  state.ProgressStep = kFrameProgressStep;
  for (std::size_t frame = 0; frame < frames;) {
    const std::size_t run = std::min(kFramesPerGrowth, frames - frame);
    WithMemoryFailureAsError([&] { wave->bytes.resize(wave->position + run * WavHeader::kBytesPerFrame); });
    for (const std::size_t end = frame + run; frame < end;) {
      // The gauge and the queue are seen to after each short run of frames,
      // where they stand as if seen to after every frame.
      const std::size_t look = std::min(kFramesPerLook, end - frame);
      DecodeSdx2Frames(decoder, source->bytes.data() + source->position, look,
                       wave->bytes.data() + wave->position);
      frame += look;
      source->position += look * kInputBytesPerFrame;
      wave->position += look * WavHeader::kBytesPerFrame;
      Progress(state, window, static_cast<std::int64_t>(look));
      window.ProcessPendingMessages();
    }
  }
  state.ProgressStep = 0;
  Progress(state, window);
  PatchWavSizes(wave->bytes.data(), wave->bytes.size());
  return wave;
}

}  // namespace

void PrepareWave(SharedState& state, Window& window) {
  try {
    WithMemoryFailureAsError([&] {
      state.SourceImage = std::make_shared<ByteImage>();
      state.WaveImage = std::make_shared<ByteImage>();
      // Room for twice the file, so that the frames never move the image. A
      // size that does not fit in 31 bits is no guide; the image then grows
      // to what the loaded file needs.
      const std::int32_t size = QueryFileSize(state.SelectedPath);
      if (size > 0) state.WaveImage->bytes.reserve(2 * static_cast<std::size_t>(size));
      AdviseLargePages(state.WaveImage->bytes);
      RoomPreparation room(state.WaveImage->bytes);
      // The file is read again, whole and by name.
      state.InputFile.Close();
      LoadWholeFile(state.SelectedPath, *state.SourceImage, window);
      ByteImage& wave = *state.WaveImage;
      wave.bytes.resize(kWavHeaderSize);
      WriteWavHeader(wave.bytes.data(), ParseLeadingInt(window.RateText()));
      wave.position = kWavHeaderSize;
      room.Await(window);
    });
  } catch (...) {
    // A failed preparation leaves no file open and no half-built image.
    state.InputFile.CloseQuietly();
    state.SourceImage.reset();
    state.WaveImage.reset();
    throw;
  }
}

void ConvertToWav(SharedState& state, Window& window) {
  // The name is taken before the loop runs the message pump.
  const std::string outputPath = state.SelectedPath + ".wav";
  PrepareWave(state, window);
  ImageRelease release(state, state.SourceImage, state.WaveImage);
  const std::shared_ptr<ByteImage> wave = DecodeIntoWave(state, window);
  release.ReleaseSource();
  SaveWholeImage(*wave, outputPath, window);
}

void StreamToWav(SharedState& state, Window& window) {
  const std::string outputPath = state.SelectedPath + ".wav";
  state.InputFile.Close();
  ByteFile source, wav;
  try {
    source.Open(state.SelectedPath, ByteFile::Mode::kRead);
  } catch (const CommandError&) {
    throw CommandError(kNoFileCode, "Cannot open file " + state.SelectedPath);
  }
  const std::int32_t rate = ParseLeadingInt(window.RateText());
  try {
    wav.Open(outputPath, ByteFile::Mode::kCreate);
  } catch (const CommandError&) {
    throw CommandError(kNoFileCode, "Cannot create file " + outputPath);
  }
  // Which side failed decides the text; the file layer's error is kept aside.
  const auto reading = [](auto work) {
    try {
      work();
    } catch (const CommandError&) {
      throw CommandError(kNoFileCode, kStreamReadError);
    }
  };
  const auto writing = [](auto work) {
    try {
      work();
    } catch (const CommandError&) {
      throw CommandError(kNoFileCode, kStreamWriteError);
    }
  };
  try {
    unsigned char header[kWavHeaderSize];
    WriteWavHeader(header, rate);
    writing([&] { wav.Write(header, kWavHeaderSize); });
    // The first 140 bytes are never decoded; a lone byte at the end is no
    // frame, as in the whole-image conversion.
    std::int64_t size = 0;
    reading([&] { size = source.Size(); });
    const auto start = static_cast<std::int64_t>(DecodeStartOffset);
    std::size_t frames = size > start ? static_cast<std::size_t>(size - start) / kInputBytesPerFrame : 0;
    if (frames > 0) reading([&] { source.Seek(start); });
    const std::uint64_t dataSize = std::uint64_t{frames} * WavHeader::kBytesPerFrame;
    std::vector<unsigned char> in(kFramesPerLook * kInputBytesPerFrame),
        out(kFramesPerLook * WavHeader::kBytesPerFrame);
    Sdx2State decoder;
    state.ProgressStep = kFrameProgressStep;
    while (frames > 0) {
      const std::size_t look = std::min(kFramesPerLook, frames);
      reading([&] { source.Read(in.data(), look * kInputBytesPerFrame); });
      DecodeSdx2Frames(decoder, in.data(), look, out.data());
      writing([&] { wav.Write(out.data(), look * WavHeader::kBytesPerFrame); });
      frames -= look;
      Progress(state, window, static_cast<std::int64_t>(look));
      window.ProcessPendingMessages();
    }
    state.ProgressStep = 0;
    Progress(state, window);
    PatchWavSizes(header, static_cast<std::size_t>(kWavHeaderSize + dataSize));
    writing([&] {
      wav.Seek(0);
      wav.Write(header, kWavHeaderSize);
      wav.Close();
    });
    source.CloseQuietly();
  } catch (...) {
    // A WAV cut short is no WAV: nothing of it is put in place, and an
    // earlier WAV of the name stays as it was.
    wav.Discard();
    throw;
  }
}

void PlayInMemory(SharedState& state, Window& window, SoundPlayer& player) {
  // A failed decode plays nothing and keeps nothing.
  ImageRelease release(state, state.SourceImage, state.WaveImage);
  const std::shared_ptr<ByteImage> wave = DecodeIntoWave(state, window);
  release.Keep();
  player.Play(wave);
}

}  // namespace morvane
