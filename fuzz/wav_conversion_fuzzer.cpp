// The decoder and the WAV conversion over arbitrary sound bytes and rate
// texts. Input: one byte whose low bits give the length of the rate text
// (0 to 5, what Edit1 holds) and whose high bit also plays the file; the
// text; then the sound file. The WAV must be 44 + 4 x frames long, its RIFF
// and data sizes must match that length, its rate the leading number of the
// text, and its samples those of a plain model of the decoder.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/wav_image.h"
#include "commands/command_flow.h"
#include "core/shared_state.h"
#include "core/support.h"
#include "fuzz_support.h"
#include "support/recording_window.h"

namespace {

using morvane::fuzz::Bytes;
using morvane::fuzz::LittleEndianAt;

constexpr std::size_t kMaxRateText = 5;
constexpr std::size_t kSkipped = 140;

// The leading number of the text: a sign as the very first character, then
// digits, in 32-bit arithmetic that wraps.
std::uint32_t ModelLeadingNumber(const std::string& text) {
  std::size_t at = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) at = 1;
  std::uint32_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + static_cast<std::uint32_t>(text[at] - '0');
  }
  return negative ? ~value + 1 : value;
}

Bytes ModelWav(const std::uint8_t* sound, std::size_t size, std::uint32_t rate) {
  const std::size_t frames = size > kSkipped ? (size - kSkipped) / 2 : 0;
  const auto length = static_cast<std::uint32_t>(44 + 4 * frames);
  Bytes out;
  const auto text = [&](const char* id) { out.insert(out.end(), id, id + 4); };
  const auto half = [&](std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
  };
  text("RIFF");
  morvane::fuzz::AppendLittleEndian(out, length - 8);
  text("WAVE");
  text("fmt ");
  morvane::fuzz::AppendLittleEndian(out, 16);
  half(1);
  half(2);
  morvane::fuzz::AppendLittleEndian(out, rate);
  morvane::fuzz::AppendLittleEndian(out, rate * 4);
  half(4);
  half(16);
  text("data");
  morvane::fuzz::AppendLittleEndian(out, length - 44);
  std::uint16_t left = 0, right = 0;
  for (std::size_t frame = 0; frame < frames; ++frame) {
    const std::uint8_t first = sound[kSkipped + 2 * frame];
    const std::uint8_t second = sound[kSkipped + 2 * frame + 1];
    // Left first: the first byte of a pair is the left channel.
    half(morvane::fuzz::ModelDecodeByte(left, first));
    half(morvane::fuzz::ModelDecodeByte(right, second));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace morvane;
  if (size < 1) return 0;
  const std::size_t textLength = std::min<std::size_t>((data[0] & 7) % (kMaxRateText + 1), size - 1);
  const bool alsoPlay = (data[0] & 0x80) != 0;
  const std::string rateText(reinterpret_cast<const char*>(data + 1), textLength);
  const std::uint8_t* sound = data + 1 + textLength;
  const std::size_t soundSize = size - 1 - textLength;

  const std::string path = fuzz::FreshInput("w", sound, soundSize, "w.wav");
  const std::string wavPath = path + ".wav";

  // One state for the whole run, as the program keeps one for all its
  // commands; what a command leaves in it must not upset the next.
  static SharedState state;
  test::RecordingWindow window;
  window.rate = rateText;
  const std::string error = fuzz::CheckedEnd(state, RunSdx2ToWav(state, window, path));
  FUZZ_CHECK(error.empty(), "the conversion failed: " + error);
  FUZZ_CHECK(!state.SourceImage && !state.WaveImage, "the images were not released");
  FUZZ_CHECK(window.gauge.Position() == window.gauge.Maximum(), "the gauge is not full");

  const std::uint32_t rate = ModelLeadingNumber(rateText);
  FUZZ_CHECK(static_cast<std::uint32_t>(ParseLeadingInt(rateText)) == rate,
             "ParseLeadingInt of '" + rateText + "'");
  Bytes wav;
  FUZZ_CHECK(fuzz::ReadWhole(wavPath, wav), "no WAV file");
  const std::size_t frames = soundSize > kSkipped ? (soundSize - kSkipped) / 2 : 0;
  FUZZ_CHECK(wav.size() == 44 + 4 * frames, "WAV length " + std::to_string(wav.size()));
  FUZZ_CHECK(static_cast<std::size_t>(LittleEndianAt(wav.data() + 4)) == wav.size() - 8, "RIFF size");
  FUZZ_CHECK(static_cast<std::size_t>(LittleEndianAt(wav.data() + 40)) == wav.size() - 44, "data size");
  FUZZ_CHECK(static_cast<std::uint32_t>(LittleEndianAt(wav.data() + 24)) == rate, "sample rate");
  FUZZ_CHECK(wav == ModelWav(sound, soundSize, rate), "the WAV differs from the model's");

  if (alsoPlay) {
    // PLAY decodes the same image into memory and writes nothing.
    SharedState playState;
    test::RecordingWindow playWindow;
    playWindow.rate = rateText;
    test::RecordingPlayer player;
    fuzz::RemoveInFolder("w.wav");
    const CommandResult played = RunPlay(playState, playWindow, path, player);
    FUZZ_CHECK(played.completed && !played.Failed(), "PLAY did not end well");
    FUZZ_CHECK(player.played.size() == 1 && player.played[0]->bytes == wav,
               "PLAY's image differs from the WAV");
    FUZZ_CHECK(playState.WaveImage == player.played[0], "PLAY did not keep its image");
    FUZZ_CHECK(!playState.InputFile.IsOpen(), "the sound file left open by PLAY");
  }

  const auto entries = fuzz::FolderEntries();
  const std::size_t expectedEntries = alsoPlay ? 1 : 2;
  FUZZ_CHECK(entries.size() == expectedEntries && entries[0] == "w" && (alsoPlay || entries[1] == "w.wav"),
             "a file beside the WAV");
  return 0;
}
