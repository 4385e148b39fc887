#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/byte_file.h"

namespace morvane {

class Window;

// An in-memory byte buffer with one position: the read position of the
// source image, the write position of the wave image.
struct ByteImage {
  std::vector<unsigned char> bytes;
  std::size_t position = 0;
};

// The one process-wide state through which the commands and passes share the
// selected file, its open files, its size and the flags.
struct SharedState {
  std::string SelectedPath;
  ByteFile InputFile;
  ByteFile SecondFile;
  std::int32_t TotalSize = 0;
  std::uint8_t ProgressStep = 1;
  bool FileOpened = false;
  bool MapMissing = false;
  bool StopRequested = false;
  // Label26 shows the film of an earlier Analyze File: the next one puts it
  // back to "Unknown" before its walk, so that a file without a film never
  // shows another file's.
  bool VideoFormatShown = false;
  // Why the last FileOpen refused the chosen file when it is no regular file
  // or too large; empty otherwise.
  std::string InputRefusal;
  // Shared so that a player still reading an image keeps it alive.
  std::shared_ptr<ByteImage> SourceImage;
  std::shared_ptr<ByteImage> WaveImage;
};

// Steps 3 to 5 of FileOpen once the dialog has answered: takes the path,
// opens it for reading as InputFile ("Input Error " when that fails, or when
// it is no regular file or holds 2 GiB or more) and sets TotalSize. Gives
// nothing; the caller reads FileOpened, and InputRefusal tells why not.
void OpenSelectedFile(SharedState& state, Window& window, const std::string& path);

// Moves the gauge on by ProgressStep, or fills it when the step is 0.
void Progress(SharedState& state, Window& window);
// Leaves the gauge where that many calls of Progress in a row would: the
// position moves on by ProgressStep times calls, held within the range.
void Progress(SharedState& state, Window& window, std::int64_t calls);

}  // namespace morvane
