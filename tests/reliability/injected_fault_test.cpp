// Analyze File, Extract Chunks and SDX2 to WAV with the k-th file operation
// failing, for k = 1, 2, ... until the command runs through: each k must end
// with the error of the operation that failed, close everything, show no
// completion and keep on disk every byte written before the failure.

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "core/support.h"
#include "reliability/command_run.h"

namespace morvane {
namespace {

using test::Bytes;
using test::Exists;
using test::Outcome;
using test::ReadAll;
using test::RecordingWindow;

// No command of these tests needs anywhere near this many file operations.
constexpr std::int64_t kGiveUp = 20000;

struct Fault {
  int errnoValue;
  const char* text;  // what the failing operation reports
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << '"' << fault.text << '"'; }

class InjectedFaultTest : public ::testing::TestWithParam<Fault> {
 protected:
  void SetUp() override { stem_ = dir_.Write("intro.str", test::RealisticStream()); }
  void TearDown() override { faults::Disarm(); }

  // Runs the command with the k-th operation failing; tells whether the
  // fault was reached and checks the closing steps, which hold either way.
  template <typename Command>
  bool RunWithFault(std::int64_t k, Command command, Outcome& out, SharedState& state,
                    RecordingWindow& window) {
    const int descriptors = test::OpenDescriptors();
    faults::FailOperation(k, GetParam().errnoValue);
    out = command(state, window, stem_);
    const bool reached = faults::OperationsPerformed() >= k;
    faults::Disarm();
    EXPECT_FALSE(state.InputFile.IsOpen());
    EXPECT_FALSE(state.SecondFile.IsOpen());
    EXPECT_FALSE(state.FileOpened);
    EXPECT_FALSE(state.StopRequested);
    EXPECT_FALSE(window.stopEnabled);
    if (descriptors >= 0) {
      EXPECT_EQ(descriptors, test::OpenDescriptors()) << "a file left open";
    }
    return reached;
  }

  void RemoveSoundFiles() const {
    for (const auto& name : test::FolderNames(dir_.path())) {
      if (name.ends_with(".sound") || name.ends_with(".wav")) std::filesystem::remove(dir_.path() / name);
    }
  }

  test::TempDir dir_;
  std::string stem_;
};

// Where each record of a map ends.
std::vector<std::size_t> RecordEnds(const Bytes& map) {
  std::vector<std::size_t> ends;
  for (std::size_t at = 0; at + 4 <= map.size();) {
    const std::string kind(map.begin() + static_cast<std::ptrdiff_t>(at),
                           map.begin() + static_cast<std::ptrdiff_t>(at + 4));
    at += kind == "SNDS" ? kSndsRecordSize : kind == "SHDR" ? kShdrRecordSize : kSsmpRecordSize;
    ends.push_back(at);
  }
  return ends;
}

TEST_P(InjectedFaultTest, AnalyzeFileKeepsEveryMapRecordWrittenBeforeTheFault) {
  const std::string mapPath = stem_ + ".MAP";
  Bytes fullMap;
  {
    SharedState state;
    RecordingWindow window;
    ASSERT_TRUE(test::RunAnalyze(state, window, stem_).completed);
    fullMap = ReadAll(mapPath);
  }
  ASSERT_GT(fullMap.size(), 700u);

  std::set<std::size_t> mapLengths;
  std::size_t previousLength = 0;
  bool ranThrough = false;
  std::int64_t k = 1;
  for (; k < kGiveUp && !ranThrough; ++k) {
    SCOPED_TRACE("operation " + std::to_string(k) + " fails");
    std::filesystem::remove(mapPath);
    SharedState state;
    RecordingWindow window;
    Outcome out;
    if (!RunWithFault(k, test::RunAnalyze, out, state, window)) {
      // The command needs fewer than k operations: it runs as without fault.
      EXPECT_TRUE(out.completed);
      EXPECT_EQ("", out.error);
      EXPECT_TRUE(out.notices.empty());
      EXPECT_EQ(fullMap, ReadAll(mapPath));
      ranThrough = true;
      continue;
    }
    EXPECT_FALSE(out.completed);
    if (k == 1) {
      // Opening the picked file.
      EXPECT_EQ(std::vector<std::string>{"Input Error "}, out.notices);
      EXPECT_EQ("", out.error);
      EXPECT_FALSE(Exists(mapPath));
    } else if (k == 2) {
      // Creating the map: the pass runs and its first map write fails.
      EXPECT_EQ(std::vector<std::string>{"Output writing Error "}, out.notices);
      EXPECT_EQ("I/O error 103", out.error);
      EXPECT_FALSE(Exists(mapPath));
    } else if (faults::LastFaultWasRename()) {
      // The map could not be put in place: none, and no temporary left.
      EXPECT_TRUE(out.notices.empty());
      EXPECT_EQ(GetParam().text, out.error);
      EXPECT_EQ((std::set<std::string>{"intro.str"}), test::FolderNames(dir_.path()));
    } else {
      EXPECT_TRUE(out.notices.empty());
      EXPECT_EQ(GetParam().text, out.error);
      const Bytes map = ReadAll(mapPath);
      EXPECT_TRUE(test::IsPrefix(map, fullMap)) << map.size() << " bytes";
      EXPECT_GE(map.size(), previousLength) << "a later fault left less of the map";
      previousLength = map.size();
      mapLengths.insert(map.size());
    }
  }
  ASSERT_TRUE(ranThrough) << "still failing after " << kGiveUp << " operations";
  // A fault right after each record leaves the map up to that record.
  for (const std::size_t end : RecordEnds(fullMap))
    EXPECT_EQ(1u, mapLengths.count(end)) << "record end " << end;
}

TEST_P(InjectedFaultTest, ExtractChunksKeepsEveryByteCopiedBeforeTheFault) {
  std::vector<Bytes> fullSounds;
  {
    SharedState state;
    RecordingWindow window;
    ASSERT_TRUE(test::RunAnalyze(state, window, stem_).completed);
    RecordingWindow extractWindow;
    ASSERT_TRUE(test::RunExtract(state, extractWindow, stem_).completed);
    for (int n = 0; Exists(test::SoundPath(stem_, n)); ++n)
      fullSounds.push_back(ReadAll(test::SoundPath(stem_, n)));
  }
  ASSERT_EQ(3u, fullSounds.size());
  const Bytes map = ReadAll(stem_ + ".MAP");
  // The totals of copied bytes after each data record.
  std::set<std::size_t> recordTotals;
  {
    std::size_t total = 0;
    for (std::size_t at = 0; at + 4 <= map.size();) {
      const std::string kind(map.begin() + static_cast<std::ptrdiff_t>(at),
                             map.begin() + static_cast<std::ptrdiff_t>(at + 4));
      if (kind == "SSMP") {
        total += static_cast<std::size_t>(ReadLittleEndian32(map.data() + at + 8));
        recordTotals.insert(total);
      }
      at += kind == "SNDS" ? kSndsRecordSize : kind == "SHDR" ? kShdrRecordSize : kSsmpRecordSize;
    }
  }
  std::set<std::string> allowedNames = {"intro.str", "intro.str.MAP"};
  for (std::size_t n = 0; n < fullSounds.size(); ++n)
    allowedNames.insert("intro.str" + std::to_string(n) + ".sound");

  std::set<std::size_t> totalsLeft;
  std::size_t previousTotal = 0;
  bool ranThrough = false;
  bool sawCreationFailure = false;
  for (std::int64_t k = 1; k < kGiveUp && !ranThrough; ++k) {
    SCOPED_TRACE("operation " + std::to_string(k) + " fails");
    RemoveSoundFiles();
    SharedState state;
    RecordingWindow window;
    Outcome out;
    const bool reached = RunWithFault(k, test::RunExtract, out, state, window);
    EXPECT_EQ(map, ReadAll(stem_ + ".MAP")) << "the walk changed the map";
    const auto names = test::FolderNames(dir_.path());
    for (const auto& name : names) EXPECT_EQ(1u, allowedNames.count(name)) << "unexpected file " << name;
    int soundFiles = 0;
    while (Exists(test::SoundPath(stem_, soundFiles))) ++soundFiles;
    EXPECT_EQ(names.size(), 2u + static_cast<std::size_t>(soundFiles))
        << "sound files not numbered from 0 on";
    if (!reached) {
      EXPECT_TRUE(out.completed);
      EXPECT_EQ("", out.error);
      EXPECT_TRUE(out.notices.empty());
      ASSERT_EQ(static_cast<int>(fullSounds.size()), soundFiles);
      for (int n = 0; n < soundFiles; ++n)
        EXPECT_EQ(fullSounds[static_cast<std::size_t>(n)], ReadAll(test::SoundPath(stem_, n)));
      ranThrough = true;
      continue;
    }
    EXPECT_FALSE(out.completed);
    if (k == 1) {
      EXPECT_EQ(std::vector<std::string>{"Input Error "}, out.notices);
      EXPECT_EQ("", out.error);
      EXPECT_EQ(0, soundFiles);
      continue;
    }
    if (k == 2) {
      // Opening the map: the user is told, and no walk runs.
      EXPECT_EQ(std::vector<std::string>{test::MapMissingText(stem_)}, out.notices);
      EXPECT_TRUE(out.mapMissing);
      EXPECT_EQ("", out.error);
      EXPECT_TRUE(window.stopChanges.empty());
      EXPECT_EQ(0, soundFiles);
      continue;
    }
    if (out.notices == std::vector<std::string>{"Output Error. File"}) {
      // Creating a sound file: the walk goes on without one, and the next
      // data record's write fails on a file that is not open.
      sawCreationFailure = true;
      EXPECT_EQ("I/O error 103", out.error);
    } else {
      EXPECT_TRUE(out.notices.empty());
      EXPECT_EQ(GetParam().text, out.error);
    }
    if (faults::LastFaultWasRename()) {
      // The sound file being closed could not be put in place; those before
      // it are whole.
      for (int n = 0; n < soundFiles; ++n)
        EXPECT_EQ(fullSounds[static_cast<std::size_t>(n)], ReadAll(test::SoundPath(stem_, n))) << n;
      continue;
    }
    // Finished files are whole; the one being written holds what was copied.
    std::size_t total = 0;
    for (int n = 0; n < soundFiles; ++n) {
      const Bytes sound = ReadAll(test::SoundPath(stem_, n));
      const Bytes& full = fullSounds[static_cast<std::size_t>(n)];
      if (n + 1 < soundFiles) {
        EXPECT_EQ(full, sound) << "sound file " << n;
      } else {
        EXPECT_TRUE(test::IsPrefix(sound, full)) << "sound file " << n;
      }
      total += sound.size();
    }
    EXPECT_GE(total, previousTotal) << "a later fault left fewer bytes";
    previousTotal = total;
    totalsLeft.insert(total);
  }
  ASSERT_TRUE(ranThrough) << "still failing after " << kGiveUp << " operations";
  EXPECT_TRUE(sawCreationFailure);
  for (const std::size_t total : recordTotals)
    EXPECT_EQ(1u, totalsLeft.count(total)) << "after " << total << " bytes";
}

TEST_P(InjectedFaultTest, ConvertToWavReportsEachStepAndKeepsWhatWasWritten) {
  // 40000 bytes decode into a WAV larger than the file layer's buffer.
  Bytes sound(DecodeStartOffset, 0);
  const Bytes music = test::PatternBytes(40000, 5);
  sound.insert(sound.end(), music.begin(), music.end());
  const std::string soundPath = dir_.Write("intro.str0.sound", sound);
  const std::string wavPath = soundPath + ".wav";
  Bytes fullWav;
  {
    SharedState state;
    RecordingWindow window;
    window.rate = "22050";
    ASSERT_TRUE(test::RunConvert(state, window, soundPath).completed);
    fullWav = ReadAll(wavPath);
  }
  ASSERT_EQ(kWavHeaderSize + 2 * music.size(), fullWav.size());

  // The steps of the conversion in their order, by what a failure there says.
  const std::vector<std::string> steps = {
      "Input Error ",                   // opening the picked file (a notice)
      GetParam().text,                  // closing it before the load
      "Cannot open file " + soundPath,  // opening it again to load it
      "Stream read error",              // reading or closing it
      "Cannot create file " + wavPath,  // creating the WAV
      "Stream write error",             // writing or closing the WAV
  };
  constexpr std::size_t kFirstStepWithWav = 5;
  std::set<std::size_t> stepsSeen;
  std::size_t previousStep = 0;
  bool ranThrough = false;
  for (std::int64_t k = 1; k < kGiveUp && !ranThrough; ++k) {
    SCOPED_TRACE("operation " + std::to_string(k) + " fails");
    std::filesystem::remove(wavPath);
    SharedState state;
    RecordingWindow window;
    window.rate = "22050";
    Outcome out;
    const bool reached = RunWithFault(
        k,
        [&](SharedState& s, RecordingWindow& w, const std::string&) {
          return test::RunConvert(s, w, soundPath);
        },
        out, state, window);
    EXPECT_EQ(sound, ReadAll(soundPath));
    if (!reached) {
      EXPECT_TRUE(out.completed);
      EXPECT_TRUE(out.notices.empty());
      EXPECT_EQ(fullWav, ReadAll(wavPath));
      ranThrough = true;
      continue;
    }
    EXPECT_FALSE(out.completed);
    const std::string said = out.notices.empty() ? out.error : out.notices.front();
    EXPECT_TRUE(out.notices.empty() || out.error.empty()) << "a notice and an error";
    const auto step = static_cast<std::size_t>(std::find(steps.begin(), steps.end(), said) - steps.begin());
    ASSERT_LT(step, steps.size()) << "unexpected text '" << said << "'";
    EXPECT_GE(step, previousStep) << "'" << said << "' after '" << steps[previousStep] << "'";
    previousStep = step;
    stepsSeen.insert(step);
    // The WAV is written in one piece at the end: absent before that, and
    // afterwards no more than the image.
    if (step < kFirstStepWithWav) {
      EXPECT_FALSE(Exists(wavPath));
    } else if (Exists(wavPath)) {
      EXPECT_TRUE(test::IsPrefix(ReadAll(wavPath), fullWav));
    }
    const auto names = test::FolderNames(dir_.path());
    EXPECT_TRUE(names.size() == 2 || (names.size() == 3 && names.count("intro.str0.sound.wav") == 1));
  }
  ASSERT_TRUE(ranThrough) << "still failing after " << kGiveUp << " operations";
  EXPECT_EQ(steps.size(), stepsSeen.size()) << "a step whose failure was never tried";
}

// EIO's own number reads as a code of the table on POSIX and is moved up by
// 1000; on Windows it stands for ERROR_IO_DEVICE.
#ifdef _WIN32
constexpr char kIoErrorText[] = "I/O error 1117";
#else
constexpr char kIoErrorText[] = "I/O error 1005";
#endif

INSTANTIATE_TEST_SUITE_P(Faults, InjectedFaultTest,
                         ::testing::Values(Fault{EIO, kIoErrorText}, Fault{ENOSPC, "Disk full"},
                                           Fault{EACCES, "File access denied"}),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                           return info.param.errnoValue == EIO      ? std::string("EIO")
                                  : info.param.errnoValue == ENOSPC ? std::string("ENOSPC")
                                                                    : std::string("EACCES");
                         });

}  // namespace
}  // namespace morvane
