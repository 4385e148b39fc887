#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/shared_state.h"

namespace morvane {

class SoundPlayer;
class Window;

// How one command ended.
struct CommandResult {
  bool opened = false;  // the chosen file was opened
  // The boxes the command showed on its way, in order ("Input Error ", a
  // missing map, an output that could not be created); its completion
  // message is not among them.
  std::vector<std::string> notices;
  std::optional<std::string> error;  // the text of the error that ended the work
  bool mapMissing = false;           // Extract Chunks: no map beside the file
  bool completed = false;            // the work ran to its end

  // A command failed when its file was not opened, an error ended it, it
  // did not reach its end, or it had to tell the user of a problem on the
  // way (even if it went on).
  bool Failed() const { return !opened || error.has_value() || !completed || !notices.empty(); }
};

// Whether a command that ends well shows its completion message.
enum class Completion { kShown, kSilent };

// Each command from the end of its open dialog on, given the path the
// dialog answered (empty or blank for a cancelled one): the rest of
// FileOpen, the gauge to 0, the passes, the completion message, and the
// closing steps on the shared state, which run however the command ends.
// An error of the passes ends the work and comes back in the result, for
// the caller to show after its own closing steps.

// Analyze File: CreateMapFile and AnalyzeStream; "Process finished".
CommandResult RunAnalyzeFile(SharedState& state, Window& window, const std::string& path,
                             Completion completion = Completion::kShown);
// Extract Chunks: OpenMapFile and, with the map found, ExtractSounds;
// "Process Completed", also after a STOP.
CommandResult RunExtractChunks(SharedState& state, Window& window, const std::string& path,
                               Completion completion = Completion::kShown);
// SDX2 to WAV: ConvertToWav at the rate of Edit1; "Process Completed". The
// sound of an earlier PLAY, if a player is given, ends first.
// The window builds the WAV in memory; the command line streams it through
// fixed buffers into the same bytes.
enum class WavRoad { kWholeImage, kStreamed };
CommandResult RunSdx2ToWav(SharedState& state, Window& window, const std::string& path,
                           SoundPlayer* earlierPlay = nullptr, Completion completion = Completion::kShown,
                           WavRoad road = WavRoad::kWholeImage);
// PLAY: PrepareWave and PlayInMemory; it leaves the gauge where it stands
// and shows no completion message. The images stay with the player.
CommandResult RunPlay(SharedState& state, Window& window, const std::string& path, SoundPlayer& player);

}  // namespace morvane
