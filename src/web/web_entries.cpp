// The page's commands: one entry per command the worker calls, each running
// the same flow as the window and the command line, and telling the page
// what it met as it goes (src/web/morvane_reports.js posts it on).

#include <emscripten/emscripten.h>

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/map_file.h"
#include "commands/batch_inputs.h"
#include "commands/command_flow.h"
#include "commands/console_window.h"
#include "commands/convert_flow.h"
#include "commands/disc_flow.h"
#include "core/byte_file.h"
#include "core/errors.h"
#include "core/platform.h"
#include "core/support.h"
#include "demux/stream_demux.h"
#include "disc/disc_image.h"
#include "video/film_codec.h"
#include "web/chunk_strip.h"
#include "web/sound_envelope.h"

extern "C" {
void morvane_report_wrote(const char* path);
void morvane_report_problem(const char* line);
void morvane_report_progress(double done, double total);
void morvane_report_sound(const char* path, int rate, int channels, double frames,
                          const std::int16_t* envelope, int values);
void morvane_report_movie(const char* path, const char* codec, int width, int height, double frames,
                          double durationMs, int soundTracks);
void morvane_report_movie_track(const char* path, int track, int sound, int rate, int channels);
void morvane_report_movie_block(const char* path, int track, double ms, int key, double offset, double size);
void morvane_report_strip(const unsigned char* shares, int count);
void morvane_report_line(const char* line);
void morvane_report_row(const char* caption, const char* value);
void morvane_report_notice(const char* text);
void morvane_report_disc(const char* label);
void morvane_report_part(const char* path, double size, const char* kind, int converted);
void morvane_report_film_line(const char* line);
}

namespace morvane {

namespace {

// Where a conversion tells the page: names and problems as the command line
// prints them, the walk's progress in steps of half a percent, the chunks met
// for the strip picture and the samples for each sound's waveform; of a
// disc, its label and each of its parts before what it gives, each stream
// with a strip of its own.
class PageSink final : public BatchSink {
 public:
  void Start(std::size_t, const std::string&) override {}
  void DiscLabel(const std::string& label) override {
    inDisc_ = true;
    morvane_report_disc(label.c_str());
  }
  void DiscPartStart(const DiscPart& part) override {
    ReportStrip();
    ReportFilms();
    strip_.reset();
    chunks_ = filmChunks_ = frames_ = 0;
    const bool converted = !part.audioTrack && part.kind != DiscFileKind::kOther;
    if (converted) strip_.emplace(part.size);
    morvane_report_part(part.path.c_str(), static_cast<double>(part.size), DiscPartKindText(part).c_str(),
                        converted ? 1 : 0);
  }
  void Wrote(const std::string& path) override { morvane_report_wrote(path.c_str()); }
  void Tell(const std::string& name, const std::string& text) override {
    morvane_report_problem((EscapedName(name) + ": " + text).c_str());
  }
  void Progress(std::int64_t done, std::int64_t total) override {
    if (!strip_ && !inDisc_ && total > 0) strip_.emplace(total);
    const std::int64_t step = total > 0 ? 200 * done / total : 200;
    if (step == step_) return;
    step_ = step;
    morvane_report_progress(static_cast<double>(done), static_cast<double>(total));
  }
  void ChunkMet(const unsigned char* id, std::int64_t start, std::int64_t size) override {
    if (strip_) strip_->Add(id, start, size);
    ++chunks_;
  }
  void FilmChunkMet(const unsigned char* subType) override {
    ++filmChunks_;
    if (std::memcmp(subType, "FRME", 4) == 0 || std::memcmp(subType, "DFRM", 4) == 0) ++frames_;
  }
  void Decoded(const std::string& wavPath, const unsigned char* pcm, std::size_t bytes,
               int channels) override {
    envelopes_[wavPath].Add(pcm, bytes, channels);
  }
  void SoundDone(const SoundFacts& facts) override {
    const std::vector<std::int16_t> columns = envelopes_[facts.path].Columns();
    envelopes_.erase(facts.path);
    morvane_report_sound(facts.path.c_str(), facts.rate, facts.channels, static_cast<double>(facts.frames),
                         columns.data(), static_cast<int>(columns.size()));
  }
  void MovieDone(const MovieFacts& facts) override {
    morvane_report_movie(facts.path.c_str(), facts.codec, facts.width, facts.height,
                         static_cast<double>(facts.frames), static_cast<double>(facts.durationMs),
                         facts.soundTracks);
  }

  // Below the fifteen rows: the film chunks and frames of a stream walked.
  void ReportFilms() const {
    if (chunks_ == 0) return;
    morvane_report_film_line(
        ("Film chunks: " + std::to_string(filmChunks_) + ", frames: " + std::to_string(frames_)).c_str());
  }

  void MovieTrack(const std::string& moviePath, int track, std::size_t soundNumber, std::int32_t rate,
                  int channels) override {
    morvane_report_movie_track(moviePath.c_str(), track, static_cast<int>(soundNumber), rate, channels);
  }
  void MovieBlock(const std::string& moviePath, int track, std::int64_t ms, bool key, std::int64_t offset,
                  std::size_t size) override {
    morvane_report_movie_block(moviePath.c_str(), track, static_cast<double>(ms), key ? 1 : 0,
                               static_cast<double>(offset), static_cast<double>(size));
  }

  void ReportStrip() const {
    if (!strip_ || strip_->Empty()) return;
    const std::vector<unsigned char> shares = strip_->Shares();
    morvane_report_strip(shares.data(), static_cast<int>(shares.size()));
  }

 private:
  std::int64_t step_ = -1;
  bool inDisc_ = false;
  std::int64_t chunks_ = 0, filmChunks_ = 0, frames_ = 0;
  std::optional<ChunkStrip> strip_;
  std::map<std::string, SoundEnvelope> envelopes_;
};

// The memo's lines as the command line prints them, one report each.
void ReportLines(const std::string& printed) {
  std::size_t start = 0;
  for (std::size_t end; (end = printed.find('\n', start)) != std::string::npos; start = end + 1)
    morvane_report_line(printed.substr(start, end - start).c_str());
}

// The films' decoders of the page's players, by handle.
struct PlayerFilm {
  std::unique_ptr<FilmDecoder> decoder;
  std::vector<unsigned char> frame;  // the bytes of the frame to decode next
  std::string problem;
};
std::map<int, PlayerFilm>& PlayerFilms() {
  static std::map<int, PlayerFilm> films;
  return films;
}

}  // namespace

}  // namespace morvane

extern "C" {

// convert of one file, its outputs beside it: 0 when every stream was
// converted whole, 1 when not (the problems were told), 2 when refused.
EMSCRIPTEN_KEEPALIVE int morvane_convert(const char* path) {
  using namespace morvane;
  PageSink sink;
  const BatchResult result = RunConvert({path}, ConvertSettings{}, sink);
  sink.ReportStrip();
  sink.ReportFilms();
  if (result.refusal) {
    morvane_report_problem(ErrorBoxText(*result.refusal).c_str());
    return 2;
  }
  return result.whole ? 0 : 1;
}

// Whether the page takes a file dropped or picked, by the walk's rule: a
// file named itself always; one at `place` in a folder ("tree/disc1/a.str")
// unless the walk passes over its place or its first bytes (`start`, `got`
// of them, of `size`) say it is no stream. 0 when not taken, 1 when taken,
// 2 when taken as a disc image (its name or its first 2064 bytes say so).
EMSCRIPTEN_KEEPALIVE int morvane_walk_takes(const char* place, int named, const unsigned char* start, int got,
                                            double size) {
  using namespace morvane;
  if (named == 0 && WalkPassesOverPlace(place)) return 0;
  if (IsDiscImageStart(place, start, static_cast<std::size_t>(got))) return 2;
  if (named != 0) return 1;
  return KindOfStart(start, static_cast<std::size_t>(got), static_cast<std::int64_t>(size)) ==
                 InputKind::kNotAStream
             ? 0
             : 1;
}

// The files a cue sheet names, each path a line: the page hands them to its
// conversion and gives them no card of their own.
EMSCRIPTEN_KEEPALIVE const char* morvane_cue_files(const char* path) {
  static std::string files;
  files.clear();
  for (const std::string& file : morvane::FilesOfCueSheet(path)) files += file + "\n";
  return files.c_str();
}

// The WebM of one film of a file (FILEn.film.webm, n = `film`) beside it,
// and nothing else: the film card's WebM. 0 when it was written whole, 1
// when not (the problems were told).
EMSCRIPTEN_KEEPALIVE int morvane_share_film(const char* path, int film) {
  using namespace morvane;
  // Only what concerns the WebM: the rest was told when the file was
  // converted.
  class ShareSink final : public BatchSink {
   public:
    void Start(std::size_t, const std::string&) override {}
    void Wrote(const std::string& path) override {
      wrote = true;
      morvane_report_wrote(path.c_str());
    }
    void Tell(const std::string& name, const std::string& text) override {
      if (!name.ends_with(kWebMovieSuffix)) return;
      told = true;
      morvane_report_problem((EscapedName(name) + ": " + text).c_str());
    }
    void Progress(std::int64_t done, std::int64_t total) override {
      const std::int64_t step = total > 0 ? 200 * done / total : 200;
      if (step == step_) return;
      step_ = step;
      morvane_report_progress(static_cast<double>(done), static_cast<double>(total));
    }
    bool wrote = false, told = false;

   private:
    std::int64_t step_ = -1;
  } sink;
  ConvertSettings settings;
  settings.shareFilm = static_cast<std::size_t>(film);
  const BatchResult result = RunConvert({path}, settings, sink);
  if (result.refusal) {
    morvane_report_problem(ErrorBoxText(*result.refusal).c_str());
    return 2;
  }
  return sink.wrote && !sink.told ? 0 : 1;
}

// Analyze File of one file: the summary lines and the fifteen rows as
// morvane-cli analyze prints them. The map it writes beside the file is
// nothing the page offers, so it is removed again. 0 when the analysis ran
// to its end without a notice, 1 otherwise; 3, with nothing told, for a file
// that is no stream.
EMSCRIPTEN_KEEPALIVE int morvane_analyze(const char* path) {
  using namespace morvane;
  // A file that is no stream has no rows to show: the conversion's one line
  // tells what it is.
  try {
    ByteFile input;
    input.Open(path, ByteFile::Mode::kRead);
    if (KindOfInput(input) == InputKind::kNotAStream) return 3;
  } catch (const CommandError&) {
    // The analysis tells what failed.
  }
  SharedState state;
  ConsoleWindow window([](const std::string& text) { morvane_report_notice(text.c_str()); });
  const std::string memoBefore = window.MemoText();
  const CommandResult result = RunAnalyzeFile(state, window, path, Completion::kSilent);
  if (result.opened) platform::Remove((std::string(path) + kMapSuffix).c_str());
  ReportLines(AppendedLines(memoBefore, window.MemoText()));
  for (const InformationRow& row : kInformationRows)
    morvane_report_row(row.caption, window.Label(row.value).c_str());
  if (!state.InputRefusal.empty())
    morvane_report_notice(ErrorBoxText(EscapedName(path) + ": " + state.InputRefusal).c_str());
  if (result.error) morvane_report_notice(ErrorBoxText(*result.error).c_str());
  return result.Failed() ? 1 : 0;
}

// A decoder for a film of that compression type and size: a handle, or 0
// when Morvane has none for it.
EMSCRIPTEN_KEEPALIVE int morvane_film_open(const char* compression, int width, int height) {
  using namespace morvane;
  unsigned char id[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && compression[i] != 0; ++i) id[i] = static_cast<unsigned char>(compression[i]);
  const FilmCodec* codec = FindFilmCodec(id);
  if (codec == nullptr || codec->makeDecoder == nullptr) return 0;
  static int next = 0;
  PlayerFilm film;
  try {
    film.decoder = codec->makeDecoder(width, height);
  } catch (const std::invalid_argument&) {
    return 0;
  }
  PlayerFilms()[++next] = std::move(film);
  return next;
}

// Room for a frame of `size` bytes, which the page copies in before decoding it.
EMSCRIPTEN_KEEPALIVE unsigned char* morvane_film_frame(int handle, int size) {
  std::vector<unsigned char>& frame = morvane::PlayerFilms().at(handle).frame;
  frame.resize(static_cast<std::size_t>(size));
  return frame.data();
}

// Decodes the frame copied in; gives "" when it decoded whole, else what was wrong.
EMSCRIPTEN_KEEPALIVE const char* morvane_film_decode(int handle) {
  morvane::PlayerFilm& film = morvane::PlayerFilms().at(handle);
  film.problem = film.decoder->Decode(film.frame.data(), film.frame.size());
  return film.problem.c_str();
}

// The picture, width x height RGB.
EMSCRIPTEN_KEEPALIVE const unsigned char* morvane_film_rgb(int handle) {
  return morvane::PlayerFilms().at(handle).decoder->Rgb().data();
}

EMSCRIPTEN_KEEPALIVE void morvane_film_close(int handle) { morvane::PlayerFilms().erase(handle); }

}  // extern "C"
