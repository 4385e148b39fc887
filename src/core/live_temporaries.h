#pragma once

#include <string>

namespace morvane {

// The file layer's outputs are made under a temporary name beside their own
// and renamed onto it when whole. The names alive now are kept in a registry
// that RemoveLiveTemporaries (byte_file.h) empties from a signal handler.

// Takes a slot for `path`; -1 when none is free or the path is too long (the
// file is then made all the same, only not removed on an interrupt).
int RegisterTemporary(const std::string& path);
// Frees the slot (-1: none).
void UnregisterTemporary(int slot);

// The temporary name beside `path`: a dot, the name (cut so that the whole
// stays within the platform's limit for one name), the mark and six random
// letters or digits.
std::string TemporaryPathBeside(const std::string& path);

}  // namespace morvane
