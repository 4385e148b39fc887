#pragma once

#include <QBuffer>
#include <QObject>
#include <memory>

#include "audio/wav_image.h"

class QAudioSink;

namespace morvane {

// Plays a complete WAV image from memory in the background: a QAudioSink fed
// from a QBuffer over the image's sample bytes, in place, with the format
// read from the image's header. Failures are logged, never shown.
class QtSoundPlayer : public QObject, public SoundPlayer {
  Q_OBJECT

 public:
  explicit QtSoundPlayer(QObject* parent = nullptr);
  ~QtSoundPlayer() override;

  void Play(std::shared_ptr<const ByteImage> image) override;
  void Stop() override;
  bool IsPlaying() const;

 private:
  std::shared_ptr<const ByteImage> image_;
  QByteArray samples_;
  QBuffer buffer_;
  std::unique_ptr<QAudioSink> sink_;
};

}  // namespace morvane
