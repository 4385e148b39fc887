#include "support/film_stream.h"

#include "support/stream_builder.h"

namespace morvane::test {

std::int64_t WriteFilmStream(const FilmStreamOptions& options, const FilmStreamSink& sink) {
  std::int64_t written = 0;
  const auto put = [&](StreamBuilder& chunks) {
    sink(chunks.bytes().data(), chunks.size());
    written += static_cast<std::int64_t>(chunks.size());
    chunks = StreamBuilder();
  };
  const int frames = static_cast<int>(options.seconds * options.framesPerSecond);
  const std::int32_t ticks = 240 / options.framesPerSecond;
  const std::size_t soundBytes = 2 * static_cast<std::size_t>(options.rate / options.framesPerSecond);
  // Strips of at most 60000 bytes fill a frame to its size.
  const std::size_t strips = options.frameBytes / 60000 + 1;
  const std::size_t stripBytes = (options.frameBytes - 10) / strips - 12;
  StreamBuilder chunks;
  const auto header = [&](int film) {
    const std::int32_t start = options.together ? 0 : film * frames * ticks;
    const auto channel = static_cast<std::uint32_t>(options.together ? film : 0);
    chunks.Fhdr({.frameCount = frames, .time = start, .word = channel});
    StreamBuilder::Header sound;
    sound.stream = film;
    sound.sampleRate = options.rate;
    sound.time = start;
    chunks.Shdr(sound);
  };
  const auto frame = [&](int film, int i) {
    const std::int32_t time = (options.together ? 0 : film * frames * ticks) + i * ticks;
    const auto seed = static_cast<std::uint32_t>(film * 100000 + i);
    chunks.Ssmp(PatternBytes(soundBytes, seed), time, film);
    const bool key = i % options.keyEvery == 0;
    chunks.FilmFrame({.data = CinepakLikeFrame(key, strips, stripBytes, seed),
                      .time = time,
                      .duration = ticks,
                      .word = static_cast<std::uint32_t>(options.together ? film : 0),
                      .kind = key ? "FRME" : "DFRM",
                      .padding = static_cast<std::size_t>(i % 4)});
    put(chunks);
  };
  if (options.together) {
    for (int film = 0; film < options.films; ++film) header(film);
    for (int i = 0; i < frames; ++i)
      for (int film = 0; film < options.films; ++film) frame(film, i);
  } else {
    for (int film = 0; film < options.films; ++film) {
      header(film);
      for (int i = 0; i < frames; ++i) frame(film, i);
    }
  }
  put(chunks);
  return written;
}

}  // namespace morvane::test
