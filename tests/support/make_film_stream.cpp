// make-film-stream FILE [--together]: writes a small stream of two films,
// each with its sound, for the Windows leg's round trip.

#include <cstdio>
#include <string>

#include "support/film_stream.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("Usage: make-film-stream FILE [--together]\n", stderr);
    return 2;
  }
  morvane::test::FilmStreamOptions options;
  options.together = argc > 2 && std::string(argv[2]) == "--together";
  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  morvane::test::WriteFilmStream(
      options, [&](const unsigned char* bytes, std::size_t count) { std::fwrite(bytes, 1, count, file); });
  return std::fclose(file) == 0 ? 0 : 1;
}
