#include <QProcess>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "app/sound_player.h"
#include "audio/sdx2_encoder.h"
#include "audio/wav_image.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"

using namespace morvane;

// Plays a decoded tone through the real player and records the sound
// server's monitor of its output: the recording must carry the tone, and all
// of it: its last half second, at another pitch, must be heard whole.
class PlaybackTest : public QObject {
  Q_OBJECT

 private slots:
  void playedToneReachesTheSoundServer();
};

namespace {

constexpr int kRate = 22050;

// The tone's strength at a frequency in one channel (Goertzel).
double Power(const std::vector<std::int16_t>& frames, int channel, double frequency) {
  const double w = 2 * std::numbers::pi * frequency / kRate;
  const double coefficient = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (std::size_t i = static_cast<std::size_t>(channel); i < frames.size(); i += 2) {
    const double s0 = frames[i] + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

}  // namespace

void PlaybackTest::playedToneReachesTheSoundServer() {
  const QByteArray sink = qgetenv("MORVANE_TEST_SINK");
  if (sink.isEmpty())
    QSKIP("no sound server: set MORVANE_TEST_SINK to a PulseAudio null sink (.ci/run does)");
  QProcess pactl;
  pactl.start(QStringLiteral("pactl"), {QStringLiteral("info")});
  if (!pactl.waitForFinished(5000) || pactl.exitCode() != 0)
    QFAIL("MORVANE_TEST_SINK is set but no sound server answers");

  // Two seconds of 440 Hz left and 660 Hz right, then half a second of
  // 880 Hz in both, encoded as SDX2 after the 140 bytes that the decode skips.
  const int frames = kRate * 5 / 2;
  const int endFrames = kRate / 2;
  std::vector<std::int16_t> tone(static_cast<std::size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const bool end = i >= frames - endFrames;
    tone[2 * i] =
        static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * (end ? 880 : 440) * i / kRate));
    tone[2 * i + 1] =
        static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * (end ? 880 : 660) * i / kRate));
  }
  Sdx2State encoderState;
  std::vector<std::uint8_t> sound(140, 0);
  const std::vector<std::uint8_t> encoded =
      EncodeSdx2(tone.data(), static_cast<std::size_t>(frames), encoderState);
  sound.insert(sound.end(), encoded.begin(), encoded.end());
  test::TempDir dir;
  const std::string path = dir.Write("tone.sound", test::Bytes(sound.begin(), sound.end()));

  QProcess recorder;
  recorder.start(QStringLiteral("parec"),
                 {QStringLiteral("-d"), QString::fromLocal8Bit(sink) + QStringLiteral(".monitor"),
                  QStringLiteral("--format=s16le"), QStringLiteral("--rate=22050"),
                  QStringLiteral("--channels=2"), QStringLiteral("--raw")});
  QVERIFY(recorder.waitForStarted(5000));
  QTest::qWait(1000);

  SharedState state;
  test::RecordingWindow window;
  window.rate = "22050";
  OpenSelectedFile(state, window, path);
  QVERIFY(state.FileOpened);
  PrepareWave(state, window);
  QtSoundPlayer player;
  PlayInMemory(state, window, player);
  QTRY_VERIFY_WITH_TIMEOUT(player.IsPlaying(), 3000);
  // The player counts the sound as ended only once the server has played it.
  QTRY_VERIFY_WITH_TIMEOUT(!player.IsPlaying(), 8000);
  QTest::qWait(300);
  recorder.terminate();
  QVERIFY(recorder.waitForFinished(5000));
  const QByteArray raw = recorder.readAllStandardOutput();

  std::vector<std::int16_t> recorded(static_cast<std::size_t>(raw.size()) / 2);
  std::memcpy(recorded.data(), raw.constData(), recorded.size() * 2);
  // Keep the loud part: the tone, not the silence around it.
  std::vector<std::int16_t> loud;
  for (std::size_t i = 0; i + 1 < recorded.size(); i += 2) {
    if (std::abs(recorded[i]) > 500 || std::abs(recorded[i + 1]) > 500) {
      loud.push_back(recorded[i]);
      loud.push_back(recorded[i + 1]);
    }
  }
  QVERIFY2(loud.size() > static_cast<std::size_t>(kRate), "the recording is silent");
  // Left carries 440 Hz and not 660 Hz; right the other way round (in the
  // first second and a half, well before the end's pitch).
  const std::vector<std::int16_t> start(
      loud.begin(),
      loud.begin() + std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(loud.size()), 3 * kRate));
  QVERIFY(Power(start, 0, 440) > 20 * Power(start, 0, 660));
  QVERIFY(Power(start, 1, 660) > 20 * Power(start, 1, 440));
  QVERIFY(Power(start, 0, 440) > 20 * Power(start, 0, 300));

  // The end at 880 Hz, from the first 10 ms that carry it to the last loud
  // frame: all of its 0.5 s (the recorder may miss the start of the sound,
  // never its end).
  const std::size_t span = kRate / 100;
  std::size_t endStart = recorded.size() / 2;
  for (std::size_t at = 0; at + 2 * span <= recorded.size(); at += 2 * span) {
    const std::vector<std::int16_t> piece(recorded.begin() + static_cast<std::ptrdiff_t>(at),
                                          recorded.begin() + static_cast<std::ptrdiff_t>(at + 2 * span));
    if (Power(piece, 0, 880) > 4 * Power(piece, 0, 440) && Power(piece, 1, 880) > 4 * Power(piece, 1, 660) &&
        Power(piece, 0, 880) > 1e9) {
      endStart = at / 2;
      break;
    }
  }
  std::size_t last = 0;
  for (std::size_t i = 0; i < recorded.size(); ++i) {
    if (std::abs(recorded[i]) > 500) last = i / 2;
  }
  const std::size_t endMs = last > endStart ? (last - endStart) * 1000 / kRate : 0;
  QVERIFY2(endMs >= 480, qPrintable(QStringLiteral("the end sounded for %1 ms of 500").arg(endMs)));
}

QTEST_MAIN(PlaybackTest)
#include "playback_test.moc"
