#include "demux/film_poster.h"

#include <stdexcept>

#include "core/byte_file.h"
#include "core/errors.h"
#include "video/png_image.h"

namespace morvane {

FilmPoster::FilmPoster(const FilmCodec& codec, int width, int height, std::string path, ConvertSink& sink)
    : path_(std::move(path)), sink_(sink) {
  try {
    decoder_ = codec.makeDecoder(width, height);
  } catch (const std::invalid_argument& error) {
    GiveUp(error.what());
  }
}

FilmPoster::~FilmPoster() = default;

void FilmPoster::GiveUp(const std::string& why) {
  sink_.Tell(path_, "no poster: " + why);
  decoder_.reset();
  frame_ = {};
  done_ = true;
}

void FilmPoster::BeginFrame(bool key, std::size_t size) {
  if (done_) return;
  frame_.clear();
  size_ = size;
  key_ = key;
  skipping_ = size > kMostFrameBytes;
  if (skipping_ && key) {
    GiveUp("its first key frame is " + std::to_string(size) + " bytes, more than the " +
           std::to_string(kMostFrameBytes) + " a poster is decoded from");
    return;
  }
  if (size == 0) FrameBytes(nullptr, 0);
}

void FilmPoster::FrameBytes(const unsigned char* bytes, std::size_t count) {
  if (done_ || skipping_) return;
  if (count > 0) frame_.insert(frame_.end(), bytes, bytes + count);
  if (frame_.size() < size_) return;
  const std::string problem = decoder_->Decode(frame_.data(), frame_.size());
  if (key_) Write(problem);
}

void FilmPoster::Write(const std::string& problem) {
  done_ = true;
  frame_ = {};
  if (!problem.empty()) sink_.Tell(path_, problem + "; the poster shows what could be decoded");
  ByteFile file;
  try {
    const std::vector<unsigned char> png =
        EncodePng(decoder_->Rgb().data(), decoder_->Width(), decoder_->Height());
    file.Open(path_, ByteFile::Mode::kCreate);
    file.Write(png.data(), png.size());
    file.Close();
  } catch (const CommandError& error) {
    file.Discard();
    sink_.Tell(path_, ErrorCause(error));
    decoder_.reset();
    return;
  }
  decoder_.reset();
  whole_ = problem.empty();
  sink_.Wrote(path_);
}

void FilmPoster::FilmEnds() {
  if (!done_) GiveUp("the film has no key frame");
}

}  // namespace morvane
