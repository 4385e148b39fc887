#include "film_model.h"

#include <algorithm>

namespace morvane::fuzz {

namespace {

__extension__ typedef __int128 Wide;

std::int64_t Be32(const Bytes& b, std::int64_t at) {
  const auto i = static_cast<std::size_t>(at);
  return static_cast<std::int32_t>(std::uint32_t{b[i]} << 24 | std::uint32_t{b[i + 1]} << 16 |
                                   std::uint32_t{b[i + 2]} << 8 | b[i + 3]);
}
std::string Id(const Bytes& b, std::int64_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

Wide FloorDiv(Wide a, Wide b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The time of `ticks` (1/240 s) plus `samples` at `rate`, in whole
// milliseconds, rounded half up: exact arithmetic on wide numbers.
std::int64_t Ms(std::int64_t ticks, std::int64_t samples, std::int64_t rate) {
  const Wide numerator = Wide{ticks} * 1000 * rate + Wide{samples} * 240000;
  const Wide denominator = Wide{240} * rate;
  return static_cast<std::int64_t>(FloorDiv(2 * numerator + denominator, 2 * denominator));
}

// Every strip of the frame intra-coded, and at least one.
bool AllIntra(const Bytes& f) {
  if (f.size() < 10) return false;
  const std::size_t strips = std::size_t{f[8]} << 8 | f[9];
  std::size_t at = 10;
  for (std::size_t s = 0; s < strips; ++s) {
    if (at + 12 > f.size()) return false;
    // An id byte, then a 24-bit size.
    const std::size_t size = std::size_t{f[at + 1]} << 16 | std::size_t{f[at + 2]} << 8 | f[at + 3];
    if (f[at] != 0x10 || size < 12 || at + size > f.size()) return false;
    at += size;
  }
  return strips > 0;
}

}  // namespace

bool FilmModel::Ended(const Film& film, std::int64_t time) const {
  return film.count > 0 && film.frames >= film.count && time >= film.lastEnd;
}

void FilmModel::TimeMet(std::int64_t time) {
  std::vector<std::uint16_t> ended;
  for (const auto& [channel, film] : live_)
    if (film && Ended(*film, time)) ended.push_back(channel);
  for (const std::uint16_t channel : ended) End(channel);
}

void FilmModel::End(std::uint16_t channel) {
  const auto found = live_.find(channel);
  if (found == live_.end()) return;
  if (found->second) {
    Film& film = *found->second;
    if (film.frames == 0) {
      whole = false;
    } else {
      if (!film.cvid || !film.sized) whole = false;
      if (film.count > 0 && film.frames < film.count) whole = false;
      if (film.cut) whole = false;
      ModelMovie movie;
      movie.number = film.number;
      movie.frames = film.shown;
      movie.tracks = film.blocks;
      movies.push_back(movie);
    }
  }
  live_.erase(found);
}

bool FilmModel::FilmChunk(const Bytes& file, std::int64_t pos, std::int64_t size) {
  const auto n = static_cast<std::int64_t>(file.size());
  const std::int64_t time = Be32(file, pos + 8);
  const auto word = static_cast<std::uint32_t>(Be32(file, pos + 12));
  const auto channel = static_cast<std::uint16_t>(word & 0xFFFF);
  const std::string sub = Id(file, pos + 16);
  if (sub == "FHDR") {
    if (size < 44) return whole = false, true;
    if (n - pos < 44) return false;
    TimeMet(time);
    anyHeader = true;
    const std::size_t number = headers_++;
    End(channel);
    std::size_t open = 0;
    for (const auto& [c, film] : live_) open += film ? 1 : 0;
    if (open >= 8) {
      whole = false;
      live_[channel] = std::nullopt;
      return true;
    }
    Film film;
    film.number = number;
    film.cvid = Id(file, pos + 24) == "cvid";
    film.sized = Be32(file, pos + 28) > 0 && Be32(file, pos + 32) > 0;
    film.count = std::max<std::int64_t>(Be32(file, pos + 40), 0);
    live_[channel] = film;
    return true;
  }
  if (sub != "FRME" && sub != "DFRM") return true;
  if (size < 28) {
    whole = false;
    TimeMet(time);
    return true;
  }
  if (n - pos < 28) return false;
  const auto live = live_.find(channel);
  if (live == live_.end()) {
    strays_ = true;
  } else if (live->second) {
    Film& film = *live->second;
    const std::int64_t duration = Be32(file, pos + 20), frameSize = Be32(file, pos + 24);
    if (frameSize < 0 || frameSize > size - 28) {
      whole = false;
    } else if (pos + 28 + frameSize > n) {
      film.cut = film.count == 0 || film.frames < film.count;
      return false;
    } else {
      ModelFrame frame;
      frame.data.assign(file.begin() + pos + 28, file.begin() + pos + 28 + frameSize);
      const bool dfrm = sub == "DFRM";
      if (dfrm) film.difference = true;
      frame.key = (word & 0x10000) != 0 ||
                  (!dfrm && (film.difference || film.frames == 0 || (film.cvid && AllIntra(frame.data))));
      if (!film.started) {
        film.started = true;
        film.first = time;
        for (const Held& held : film.held) Route(film, held);
        film.held.clear();
      }
      ++film.frames;
      const std::int64_t end = time + std::max<std::int64_t>(duration, 0);
      film.lastEnd = film.frames == 1 ? end : std::max(film.lastEnd, end);
      frame.ms = std::max<std::int64_t>(Ms(time - film.first, 0, 1), 0);
      film.shown.push_back(frame);
    }
  }
  TimeMet(time);
  return true;
}

void FilmModel::Route(Film& film, const Held& chunk) {
  if (Ended(film, chunk.time)) return;
  auto found = film.tracks.find(chunk.sound);
  if (found == film.tracks.end()) {
    Track track;
    track.firstTime = chunk.time;
    track.rate = chunk.rate;
    if (chunk.time < film.first) {
      // The first sample at or after the film's first frame.
      const Wide before = Wide{film.first - chunk.time} * chunk.rate;
      track.skip = static_cast<std::int64_t>((before + 239) / 240);
      if (track.skip >= chunk.frames) return;
    }
    track.in = film.trackCount < 32;
    if (track.in) {
      ++film.trackCount;
    } else {
      whole = false;
    }
    found = film.tracks.emplace(chunk.sound, track).first;
  }
  Track& track = found->second;
  if (!track.in) return;
  const std::int64_t dropped = std::min(track.skip, chunk.frames);
  track.skip -= dropped;
  track.samples += dropped;
  if (chunk.frames == dropped) return;
  film.blocks[chunk.sound].push_back(
      {std::max<std::int64_t>(Ms(track.firstTime - film.first, track.samples, track.rate), 0),
       chunk.first + dropped, chunk.first + chunk.frames});
  track.samples += chunk.frames - dropped;
}

void FilmModel::SoundData(std::size_t sound, bool decoded, std::int64_t rate, std::int64_t time,
                          std::int64_t first, std::int64_t frames) {
  for (auto& [channel, slot] : live_) {
    if (!slot) continue;
    Film& film = *slot;
    if (!decoded) {
      if (!film.toldUndecoded[sound]) whole = false;
      film.toldUndecoded[sound] = true;
      continue;
    }
    if (frames <= 0) continue;
    const Held chunk{sound, rate, time, first, frames};
    if (film.started) {
      Route(film, chunk);
    } else {
      film.held.push_back(chunk);
    }
  }
}

void FilmModel::Finish(bool cut) {
  std::vector<std::pair<std::size_t, std::uint16_t>> order;
  for (auto& [channel, film] : live_) {
    if (!film) continue;
    if (cut) film->cut = film->count == 0 || film->frames < film->count;
    order.emplace_back(film->number, channel);
  }
  std::sort(order.begin(), order.end());
  for (const auto& [number, channel] : order) End(channel);
  if (strays_) whole = false;
}

}  // namespace morvane::fuzz
