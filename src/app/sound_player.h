#pragma once

#include <QBuffer>
#include <QObject>
#include <QTimer>
#include <memory>

#include "audio/wav_image.h"

class QAudioSink;

namespace morvane {

// Plays a complete WAV image from memory in the background: a QAudioSink fed
// from a QBuffer over the image's sample bytes, in place, with the format
// read from the image's header. Failures are logged, never shown. When the
// sink has taken the last sample, the sound still plays in the sound server:
// the sink is stopped only once the time the server may hold it has passed,
// so the end of the sound is never cut.
class QtSoundPlayer : public QObject, public SoundPlayer {
  Q_OBJECT

 public:
  explicit QtSoundPlayer(QObject* parent = nullptr);
  ~QtSoundPlayer() override;

  void Play(std::shared_ptr<const ByteImage> image) override;
  void Stop() override;
  // True from the start of the sound until its last sample has been played.
  bool IsPlaying() const;

 private:
  void AwaitDrain();
  void CheckDrained();

  std::shared_ptr<const ByteImage> image_;
  QByteArray samples_;
  QBuffer buffer_;
  std::unique_ptr<QAudioSink> sink_;
  qint64 soundUSecs_ = 0;
  QTimer drainTimer_;
};

}  // namespace morvane
