#include "disc/demo_disc.h"

#include "analysis/iff_form.h"
#include "audio/demo_stream.h"
#include "audio/sdx2_encoder.h"
#include "disc/disc_writer.h"

namespace morvane {

namespace {

std::vector<unsigned char> StreamBytes(const DemoStreamOptions& options) {
  std::vector<unsigned char> bytes;
  WriteDemoStream(options, [&](const unsigned char* data, std::size_t count) {
    bytes.insert(bytes.end(), data, data + count);
  });
  return bytes;
}

}  // namespace

std::vector<unsigned char> DemoDiscBytes() {
  DemoStreamOptions loop;
  loop.seconds = 2.0;
  loop.rates = {11025};
  loop.film.frameTicks = 0;

  constexpr std::int32_t kThemeRate = 22050;
  const std::size_t frames = kThemeRate * 3 / 2;
  std::vector<std::int16_t> melody(2 * frames);
  DemoMelodyFrames(kThemeRate, 1.0, 0, frames, melody.data());
  Sdx2State state;
  const std::vector<std::uint8_t> theme = EncodeSdx2(melody.data(), frames, state);

  const std::string readme =
      "The demo disc of Morvane: morvane-cli convert demo.iso writes every film and sound of it into "
      "demo/.\n";
  return DiscImageBytes(
      "MORVANE DEMO",
      {{"MOVIES/INTRO.STR", StreamBytes(DemoStreamOptions{})},
       {"MOVIES/MORE/LOOP.STR", StreamBytes(loop)},
       {"MUSIC/THEME.AIFC", AifcFile(2, kThemeRate, "SDX2", static_cast<std::uint32_t>(frames), theme)},
       {"README.TXT", std::vector<unsigned char>(readme.begin(), readme.end())}});
}

}  // namespace morvane
