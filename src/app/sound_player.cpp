#include "app/sound_player.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QtDebug>
#include <algorithm>
#include <cstdint>

#include "audio/wav_header.h"

namespace morvane {

namespace {

// How long the sound server may take beyond what it still holds before the
// last sample has been heard.
constexpr qint64 kDrainSlackMs = 300;

}  // namespace

QtSoundPlayer::QtSoundPlayer(QObject* parent) : QObject(parent) {
  drainTimer_.setSingleShot(true);
  connect(&drainTimer_, &QTimer::timeout, this, &QtSoundPlayer::CheckDrained);
}

QtSoundPlayer::~QtSoundPlayer() { Stop(); }

void QtSoundPlayer::Play(std::shared_ptr<const ByteImage> image) {
  Stop();
  WavFormat wav;
  if (!image || !ReadWavFormat(image->bytes.data(), image->bytes.size(), wav) ||
      wav.formatCode != WavHeader::kPcm) {
    qWarning("Morvane: the sound image is no PCM WAVE image; nothing is played");
    return;
  }
  QAudioFormat format;
  format.setSampleRate(wav.sampleRate);
  format.setChannelCount(wav.channels);
  format.setSampleFormat(wav.bitsPerSample == 16   ? QAudioFormat::Int16
                         : wav.bitsPerSample == 8  ? QAudioFormat::UInt8
                         : wav.bitsPerSample == 32 ? QAudioFormat::Int32
                                                   : QAudioFormat::Unknown);
  if (!format.isValid() || wav.sampleRate <= 0) {
    qWarning("Morvane: cannot play a sound of %d Hz, %d channels, %d bits", wav.sampleRate, wav.channels,
             wav.bitsPerSample);
    return;
  }
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) {
    qWarning("Morvane: no audio output device; nothing is played");
    return;
  }
  image_ = std::move(image);
  // The buffer reads the samples in place: the image is not copied.
  samples_ = QByteArray::fromRawData(reinterpret_cast<const char*>(image_->bytes.data() + wav.dataOffset),
                                     static_cast<qsizetype>(wav.dataSize));
  buffer_.setData(samples_);
  buffer_.open(QIODevice::ReadOnly);
  soundUSecs_ = format.durationForBytes(static_cast<qint32>(std::min<std::size_t>(wav.dataSize, INT32_MAX)));
  sink_ = std::make_unique<QAudioSink>(device, format);
  connect(sink_.get(), &QAudioSink::stateChanged, this, [this](QAudio::State state) {
    if (!sink_) return;
    if (state == QAudio::IdleState) {
      AwaitDrain();
    } else if (state == QAudio::StoppedState && sink_->error() != QAudio::NoError &&
               sink_->error() != QAudio::UnderrunError) {
      qWarning("Morvane: playback failed (error %d)", static_cast<int>(sink_->error()));
    }
  });
  sink_->start(&buffer_);
  if (sink_->error() != QAudio::NoError) qWarning("Morvane: playback could not start");
}

void QtSoundPlayer::AwaitDrain() {
  if (drainTimer_.isActive()) return;
  // The server may still hold up to the sink's buffer of sound not yet
  // heard, and at least what its clock says is still to come.
  const qint64 bufferedUSecs = sink_->format().durationForBytes(static_cast<qint32>(sink_->bufferSize()));
  const qint64 toComeUSecs = soundUSecs_ - sink_->processedUSecs();
  drainTimer_.start(static_cast<int>(std::max(bufferedUSecs, toComeUSecs) / 1000 + kDrainSlackMs));
}

void QtSoundPlayer::CheckDrained() {
  if (sink_) sink_->stop();
}

void QtSoundPlayer::Stop() {
  drainTimer_.stop();
  if (sink_) {
    sink_->disconnect(this);
    sink_->stop();
    sink_.reset();
  }
  buffer_.close();
  buffer_.setData(QByteArray());
  samples_.clear();
  image_.reset();
}

bool QtSoundPlayer::IsPlaying() const {
  return sink_ && (sink_->state() == QAudio::ActiveState || drainTimer_.isActive());
}

}  // namespace morvane
