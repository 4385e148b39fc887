#include "audio/wav_image.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <set>

#include "audio/sdx2.h"
#include "audio/sdx2_encoder.h"
#include "core/errors.h"
#include "core/support.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"

namespace morvane {
namespace {

using test::Bytes;

// What the frames of a sound file decode to, stored as the WAV stores them.
Bytes ReferenceSamples(const Bytes& input) {
  Bytes samples;
  Sdx2State state;
  for (std::size_t i = DecodeStartOffset; i + 1 < input.size(); i += 2) {
    const Sdx2Frame frame = DecodeSdx2Frame(state, input[i], input[i + 1]);
    for (const std::int16_t sample : {frame.sample1, frame.sample2}) {
      samples.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(sample)));
      samples.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(sample) >> 8));
    }
  }
  return samples;
}

std::uint32_t Field32(const Bytes& image, std::size_t offset) {
  return static_cast<std::uint32_t>(ReadLittleEndian32(image.data() + offset));
}

Bytes WithTail(std::size_t headLength, std::uint32_t seed, const Bytes& tail) {
  Bytes bytes = test::PatternBytes(headLength, seed);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

// The names in a folder.
std::set<std::string> Names(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

class WavImageTest : public ::testing::Test {
 protected:
  std::string Place(const Bytes& input, const std::string& name = "name1.sound") {
    return dir.Write(name, input);
  }

  // FileOpen's part once the dialog has answered.
  void Select(const std::string& path) {
    state.FileOpened = false;
    OpenSelectedFile(state, window, path);
    ASSERT_TRUE(state.FileOpened) << path;
  }

  Bytes Convert(const Bytes& input, const std::string& rate = "22050") {
    const std::string path = Place(input);
    window.rate = rate;
    Select(path);
    ConvertToWav(state, window);
    return test::ReadAll(path + ".wav");
  }

  // The text of the error the pass raises, or "" when it raises none.
  template <typename Pass>
  std::string ErrorOf(Pass pass) {
    try {
      pass();
    } catch (const CommandError& error) {
      return error.text();
    }
    return "";
  }

  test::TempDir dir;
  test::RecordingWindow window;
  SharedState state;
};

TEST_F(WavImageTest, WorkedExampleByteForByte) {
  const Bytes expected = {0x52, 0x49, 0x46, 0x46, 0x28, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45,
                          0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00,
                          0x22, 0x56, 0x00, 0x00, 0x88, 0x58, 0x01, 0x00, 0x04, 0x00, 0x10, 0x00,
                          0x64, 0x61, 0x74, 0x61, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x08};
  // Left first: 10 gives the left 512 (00 02), 20 the right 2048 (00 08).
  EXPECT_EQ(expected, Convert(WithTail(140, 1, {0x10, 0x20})));
}

TEST_F(WavImageTest, LengthsSizesAndFramesForShortLongAndOddInputs) {
  // The header of the worked example without its two size fields.
  const Bytes fixedHeader = {0x52, 0x49, 0x46, 0x46, 0,    0,    0,    0,    0x57, 0x41, 0x56,
                             0x45, 0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                             0x02, 0x00, 0x22, 0x56, 0x00, 0x00, 0x88, 0x58, 0x01, 0x00, 0x04,
                             0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0,    0,    0,    0};
  struct Case {
    std::size_t inputLength, wavLength;
  };
  // Shorter than 140 gives no frame; a lone last byte is dropped.
  const std::vector<Case> cases = {{0, 44},   {1, 44},   {139, 44}, {140, 44},    {141, 44},
                                   {142, 48}, {143, 48}, {144, 52}, {1000, 1764}, {1001, 1764}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inputLength);
    const Bytes input = test::PatternBytes(c.inputLength, 3);
    window.pumps = 0;
    const Bytes wav = Convert(input);
    ASSERT_EQ(c.wavLength, wav.size());
    EXPECT_EQ(c.wavLength - 8, Field32(wav, 4));
    EXPECT_EQ(c.wavLength - 44, Field32(wav, 40));
    Bytes header(wav.begin(), wav.begin() + 44);
    std::fill(header.begin() + 4, header.begin() + 8, 0);
    std::fill(header.begin() + 40, header.begin() + 44, 0);
    EXPECT_EQ(fixedHeader, header);
    EXPECT_EQ(ReferenceSamples(input), Bytes(wav.begin() + 44, wav.end()));
    EXPECT_EQ(c.wavLength > 44 ? 1 : 0, window.pumps) << "one look at the queue per run of frames";
    EXPECT_EQ(static_cast<std::int32_t>(c.inputLength), window.gauge.Maximum());
    EXPECT_EQ(window.gauge.Maximum(), window.gauge.Position());
  }
}

// An image of several megabytes takes the road of large images (large
// pages, room made ready beside the load, several rounds of growth) and
// must come out as a small one would.
TEST_F(WavImageTest, ALargeFileConvertsAsASmallOneWould) {
  const Bytes input = test::PatternBytes(140 + 3 * 1024 * 1024 + 1, 4);
  const Bytes wav = Convert(input);
  ASSERT_EQ(44 + 2 * (input.size() - 141), wav.size());
  EXPECT_EQ(wav.size() - 8, Field32(wav, 4));
  EXPECT_EQ(wav.size() - 44, Field32(wav, 40));
  EXPECT_TRUE(ReferenceSamples(input) == Bytes(wav.begin() + 44, wav.end()));
  EXPECT_EQ(window.gauge.Maximum(), window.gauge.Position());
}

TEST_F(WavImageTest, SampleRateAndByteRateFromTheRateText) {
  struct Case {
    std::string text;
    std::uint32_t rate, byteRate;
  };
  const std::vector<Case> cases = {{"", 0, 0},
                                   {"22050", 22050, 88200},
                                   {"44100", 44100, 176400},
                                   {"-1", 0xFFFFFFFFu, 0xFFFFFFFCu},
                                   {"-5", 0xFFFFFFFBu, 0xFFFFFFECu},
                                   {"441x", 441, 1764},
                                   {" 8000", 0, 0},
                                   {"+8000", 8000, 32000},
                                   {"abc", 0, 0}};
  for (const Case& c : cases) {
    const Bytes wav = Convert(WithTail(140, 2, {0x10, 0x20}), c.text);
    EXPECT_EQ(c.rate, Field32(wav, 24)) << '"' << c.text << '"';
    EXPECT_EQ(c.byteRate, Field32(wav, 28)) << '"' << c.text << '"';
  }
}

TEST_F(WavImageTest, ConvertingAgainReplacesTheEarlierFile) {
  EXPECT_EQ(1764u, Convert(test::PatternBytes(1000, 4)).size());
  const Bytes second = Convert(WithTail(140, 5, {0x10, 0x20}));
  EXPECT_EQ(48u, second.size());
  EXPECT_EQ(ReferenceSamples(WithTail(140, 5, {0x10, 0x20})), Bytes(second.begin() + 44, second.end()));
}

TEST_F(WavImageTest, TheFirst140BytesNeverMatter) {
  const Bytes tail = test::PatternBytes(600, 6);
  // Heads of noise, of zeros, and the start of a real WAV file.
  Bytes wavHead = Convert(test::PatternBytes(300, 9));
  wavHead.resize(140);
  const std::vector<Bytes> heads = {test::PatternBytes(140, 7), test::PatternBytes(140, 8), Bytes(140, 0),
                                    Bytes(140, 0xFF), wavHead};
  Bytes first;
  for (std::size_t i = 0; i < heads.size(); ++i) {
    Bytes input = heads[i];
    input.insert(input.end(), tail.begin(), tail.end());
    const Bytes wav = Convert(input);
    if (i == 0) first = wav;
    EXPECT_EQ(first, wav) << "head " << i;
  }
}

TEST_F(WavImageTest, AtEveryLookAtTheQueueTheGaugeStandsTwoPerFrameDecoded) {
  window.gauge.SetPosition(0);
  std::vector<std::int32_t> positions;
  std::vector<std::size_t> framesDecoded;
  window.onPump = [&] {
    positions.push_back(window.gauge.Position());
    framesDecoded.push_back((state.WaveImage->position - 44) / 4);
    EXPECT_EQ(2, state.ProgressStep);
  };
  constexpr std::size_t kFrames = 10000;
  const Bytes input = test::PatternBytes(140 + 2 * kFrames, 10);
  const Bytes wav = Convert(input);
  EXPECT_EQ(ReferenceSamples(input), Bytes(wav.begin() + 44, wav.end()));
  ASSERT_FALSE(positions.empty());
  for (std::size_t look = 0; look < positions.size(); ++look) {
    SCOPED_TRACE(look);
    EXPECT_EQ(static_cast<std::int32_t>(2 * framesDecoded[look]), positions[look]);
    // The window is never kept waiting for more than a few thousand frames.
    const std::size_t before = look == 0 ? 0 : framesDecoded[look - 1];
    EXPECT_GT(framesDecoded[look], before);
    EXPECT_LE(framesDecoded[look] - before, 4096u);
  }
  EXPECT_EQ(kFrames, framesDecoded.back());
  EXPECT_EQ(static_cast<std::int32_t>(input.size()), window.gauge.Maximum());
  EXPECT_EQ(window.gauge.Maximum(), window.gauge.Position());
  EXPECT_EQ(0, state.ProgressStep);
}

TEST_F(WavImageTest, AConversionClosesTheInputAndReleasesBothImages) {
  Convert(test::PatternBytes(400, 11));
  EXPECT_FALSE(state.InputFile.IsOpen());
  EXPECT_EQ(nullptr, state.SourceImage);
  EXPECT_EQ(nullptr, state.WaveImage);
}

TEST_F(WavImageTest, AFileGoneAfterItWasSelectedCannotBeOpened) {
  const std::string path = Place(test::PatternBytes(300, 12));
  Select(path);
  std::filesystem::remove(path);
  EXPECT_EQ("Cannot open file " + path, ErrorOf([&] { ConvertToWav(state, window); }));
  EXPECT_FALSE(test::Exists(path + ".wav"));
  EXPECT_FALSE(state.InputFile.IsOpen());
  EXPECT_EQ(nullptr, state.SourceImage);
  EXPECT_EQ(nullptr, state.WaveImage);
}

TEST_F(WavImageTest, AFolderInThePlaceOfTheOutputCannotBeCreated) {
  const std::string path = Place(test::PatternBytes(300, 13));
  std::filesystem::create_directory(path + ".wav");
  Select(path);
  EXPECT_EQ("Cannot create file " + path + ".wav", ErrorOf([&] { ConvertToWav(state, window); }));
  EXPECT_TRUE(std::filesystem::is_directory(path + ".wav"));
  EXPECT_EQ(nullptr, state.WaveImage);
}

TEST_F(WavImageTest, EachFailingFileOperationGivesItsMessage) {
  const std::string path = Place(test::PatternBytes(70000, 14));  // more than one file buffer
  const std::string output = path + ".wav";
  // Count the file operations of a conversion that succeeds.
  Select(path);
  faults::FailOperation(1000000, EIO);
  ConvertToWav(state, window);
  const std::int64_t total = faults::OperationsPerformed();
  faults::Disarm();
  // Close the input, open it, read it (one or more), close it; then create,
  // write, close and rename the output.
  ASSERT_GE(total, 8);
  for (std::int64_t k = 1; k <= total; ++k) {
    SCOPED_TRACE(k);
    std::filesystem::remove(output);
    Select(path);
    std::string expected = "Stream read error";
    if (k == 1) expected = ErrorText(CodeFromErrno(EIO));
    if (k == 2) expected = "Cannot open file " + path;
    if (k == total - 3) expected = "Cannot create file " + output;
    if (k >= total - 2) expected = "Stream write error";
    faults::FailOperation(k, EIO);
    EXPECT_EQ(expected, ErrorOf([&] { ConvertToWav(state, window); }));
    faults::Disarm();
    EXPECT_FALSE(state.InputFile.IsOpen());
    EXPECT_EQ(nullptr, state.SourceImage);
    EXPECT_EQ(nullptr, state.WaveImage);
    EXPECT_EQ(k == total, faults::LastFaultWasRename());
    // A failing write or close still puts what was written in place, all of
    // it at the close; a failing rename leaves nothing at all.
    EXPECT_EQ(k == total - 1,
              test::Exists(output) && test::ReadAll(output).size() == 44u + 2u * (70000u - 140u));
    const bool created = k > total - 3 && k < total;
    const std::set<std::string> names = created ? std::set<std::string>{"name1.sound", "name1.sound.wav"}
                                                : std::set<std::string>{"name1.sound"};
    EXPECT_EQ(names, Names(dir.path()));
  }
}

TEST_F(WavImageTest, ThePumpCannotPullTheImagesOrTheNameFromUnderTheLoop) {
  const Bytes input = test::PatternBytes(1140, 15);
  const std::string path = Place(input);
  const std::string other = dir.File("other.sound");
  window.rate = "22050";
  Select(path);
  window.onPump = [&] {
    state.SelectedPath = other;
    state.SourceImage.reset();
    state.WaveImage = std::make_shared<ByteImage>();
  };
  ConvertToWav(state, window);
  const Bytes wav = test::ReadAll(path + ".wav");
  EXPECT_EQ(ReferenceSamples(input), Bytes(wav.begin() + 44, wav.end()));
  EXPECT_FALSE(test::Exists(other + ".wav"));
}

TEST_F(WavImageTest, AnEncodedToneComesBackCloseToTheTone) {
  constexpr int kRate = 22050;
  constexpr int kFrames = kRate;  // one second
  constexpr double kAmplitude = 8000;
  std::vector<std::int16_t> tone;
  for (int n = 0; n < kFrames; ++n) {
    for (const double hertz : {440.0, 660.0}) {
      tone.push_back(static_cast<std::int16_t>(
          std::lround(kAmplitude * std::sin(2 * std::numbers::pi * hertz * n / kRate))));
    }
  }
  Sdx2State encoder;
  const std::vector<std::uint8_t> encoded = EncodeSdx2(tone.data(), kFrames, encoder);
  const Bytes wav = Convert(WithTail(140, 16, Bytes(encoded.begin(), encoded.end())), "22050");
  ASSERT_EQ(44u + 4u * kFrames, wav.size());
  double squaredError[2] = {0, 0};
  for (int i = 0; i < 2 * kFrames; ++i) {
    const auto sample = static_cast<std::int16_t>(wav[44 + 2 * i] | (wav[45 + 2 * i] << 8));
    const double error = static_cast<double>(sample) - tone[static_cast<std::size_t>(i)];
    squaredError[i % 2] += error * error;
  }
  for (const double sum : squaredError) {
    // Well under 1% of the amplitude; a swapped pair of channels would be
    // near the amplitude itself.
    EXPECT_LT(std::sqrt(sum / kFrames), 0.01 * kAmplitude);
  }
}

TEST_F(WavImageTest, PlayHandsOverWhatTheConversionWritesAndKeepsTheImages) {
  const Bytes input = test::PatternBytes(2000, 17);
  const Bytes written = Convert(input, "44100");
  const std::string path = Place(input, "play.sound");
  Select(path);
  test::RecordingPlayer player;
  PrepareWave(state, window);
  // Room for twice the file is made up front, so the frames never move it.
  ASSERT_GE(state.WaveImage->bytes.capacity(), 2 * input.size());
  const unsigned char* reserved = state.WaveImage->bytes.data();
  PlayInMemory(state, window, player);
  ASSERT_EQ(1u, player.played.size());
  EXPECT_EQ(reserved, player.played[0]->bytes.data());
  EXPECT_EQ(written, player.played[0]->bytes);
  EXPECT_EQ(state.WaveImage, player.played[0]);
  ASSERT_NE(nullptr, state.SourceImage);
  EXPECT_EQ(input, state.SourceImage->bytes);
  EXPECT_FALSE(state.InputFile.IsOpen());
  EXPECT_FALSE(test::Exists(path + ".wav"));
  EXPECT_EQ(window.gauge.Maximum(), window.gauge.Position());
}

TEST_F(WavImageTest, PlayHandsOverEvenAnEmptyOrUnplayableImage) {
  test::RecordingPlayer player;
  window.rate = "";
  Select(Place(test::PatternBytes(140, 18)));
  PrepareWave(state, window);
  PlayInMemory(state, window, player);
  // A second PLAY builds new images; the first stays as it was handed over.
  const std::shared_ptr<const ByteImage> first = player.played.at(0);
  const Bytes firstBytes = first->bytes;
  window.rate = "8000";
  Select(Place(test::PatternBytes(400, 19), "second.sound"));
  PrepareWave(state, window);
  PlayInMemory(state, window, player);
  ASSERT_EQ(2u, player.played.size());
  EXPECT_NE(first, player.played[1]);
  EXPECT_EQ(firstBytes, first->bytes);
  ASSERT_EQ(44u, firstBytes.size());
  EXPECT_EQ(36u, Field32(firstBytes, 4));
  EXPECT_EQ(0u, Field32(firstBytes, 24));
  EXPECT_EQ(0u, Field32(firstBytes, 28));
  EXPECT_EQ(0u, Field32(firstBytes, 40));
  EXPECT_EQ(8000u, Field32(player.played[1]->bytes, 24));
}

TEST_F(WavImageTest, PlayWithoutPreparedImagesPlaysNothing) {
  test::RecordingPlayer player;
  const std::string path = Place(test::PatternBytes(300, 20));
  Select(path);
  std::filesystem::remove(path);
  EXPECT_EQ("Cannot open file " + path, ErrorOf([&] { PrepareWave(state, window); }));
  EXPECT_EQ(nullptr, state.WaveImage);
  EXPECT_EQ("I/O error 103", ErrorOf([&] { PlayInMemory(state, window, player); }));
  EXPECT_TRUE(player.played.empty());
  // An image already handed to the player is never decoded into again.
  const Bytes input = test::PatternBytes(300, 21);
  Select(Place(input));
  PrepareWave(state, window);
  PlayInMemory(state, window, player);
  const Bytes played = player.played.at(0)->bytes;
  EXPECT_EQ("I/O error 103", ErrorOf([&] { PlayInMemory(state, window, player); }));
  EXPECT_EQ(1u, player.played.size());
  EXPECT_EQ(played, player.played[0]->bytes);
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

// The streamed road gives the whole-image road's bytes, for every length
// around the skipped bytes, the last lone byte and the pieces it reads in,
// and any rate text; on a failure it raises the same text and leaves no WAV.
TEST_F(WavImageTest, StreamedConversionWritesTheSameBytes) {
  const std::vector<std::pair<std::size_t, std::string>> cases = {{0, "22050"},
                                                                  {139, ""},
                                                                  {140, "-1"},
                                                                  {141, "441x"},
                                                                  {142, "8000"},
                                                                  {143, "+7"},
                                                                  {4235, "44100"},
                                                                  {140 + 2 * 2048, "11025"},
                                                                  {140 + 2 * 2048 + 1, "99999"},
                                                                  {140 + 6 * 2048 + 3, "22050"}};
  for (const auto& [length, rate] : cases) {
    SCOPED_TRACE(length);
    const Bytes input = test::PatternBytes(length, static_cast<std::uint32_t>(length));
    const Bytes whole = Convert(input, rate);
    const std::string path = Place(input, "streamed.sound");
    window.rate = rate;
    Select(path);
    StreamToWav(state, window);
    EXPECT_EQ(whole, test::ReadAll(path + ".wav"));
    EXPECT_FALSE(state.InputFile.IsOpen());
    EXPECT_EQ(window.gauge.Maximum(), window.gauge.Position());
  }

  const std::string path = Place(test::PatternBytes(400, 9), "blocked.sound");
  std::filesystem::create_directory(path + ".wav");
  Select(path);
  EXPECT_EQ("Cannot create file " + path + ".wav", ErrorOf([&] { StreamToWav(state, window); }));

  // A write that fails halfway leaves no WAV behind.
  const std::string cut = Place(test::PatternBytes(400, 10), "cut.sound");
  Select(cut);
  faults::FailOperation(4, ENOSPC);  // the input's close, the opening, the creation, the header
  EXPECT_EQ("Stream write error", ErrorOf([&] { StreamToWav(state, window); }));
  faults::Disarm();
  EXPECT_FALSE(test::Exists(cut + ".wav"));

  // ...and keeps an earlier WAV of the name as it was, with no temporary left.
  const Bytes earlier = test::PatternBytes(60, 11);
  Place(earlier, "cut.sound.wav");
  Select(cut);
  faults::FailOperation(4, ENOSPC);
  EXPECT_EQ("Stream write error", ErrorOf([&] { StreamToWav(state, window); }));
  faults::Disarm();
  EXPECT_EQ(earlier, test::ReadAll(cut + ".wav"));
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(cut).parent_path())) {
    EXPECT_FALSE(IsTemporaryName(entry.path().filename().string())) << entry.path();
  }
}

}  // namespace
}  // namespace morvane
