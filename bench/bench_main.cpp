// morvane-bench: makes the benchmark's inputs, measures every figure beside
// its reference, and drives the window for the window figures.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench_inputs.h"
#include "convert_figures.h"
#include "disc_figures.h"
#include "figures.h"
#include "processes.h"
#include "window_driver.h"

namespace {

const char kUsage[] =
    "Usage: morvane-bench generate FOLDER [--small]\n"
    "       morvane-bench figures FOLDER --cli PROGRAM [--runs N] [--small] [--doc FILE] [--convert-only | "
    "--disc-only]\n"
    "       morvane-bench window analyze|extract|wav FILE [RATE]\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Generate(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string folder = argv[2];
  const bool small = argc > 3 && std::string(argv[3]) == "--small";
  const morvane::bench::Expected expected = morvane::bench::MakeInputs(folder, small);
  morvane::bench::SaveExpected(expected, folder + "/" + morvane::bench::kExpectedName);
  morvane::bench::MakeDiscInputs(folder, small);
  for (const morvane::bench::FilmShape& shape : morvane::bench::MakeFilmInputs(folder, small)) {
    std::printf("films: %s, %lld bytes, %d film(s) of %d frames\n", shape.file.c_str(),
                static_cast<long long>(shape.size), shape.films, shape.frames);
  }
  std::printf(
      "stream: %lld bytes, %lld chunks (%lld SNDS, %lld SHDR, %lld SSMP); %zu sound files, %lld bytes\n",
      static_cast<long long>(expected.streamSize), static_cast<long long>(expected.chunks),
      static_cast<long long>(expected.snds), static_cast<long long>(expected.shdr),
      static_cast<long long>(expected.ssmp), expected.sounds.size(),
      static_cast<long long>(expected.soundTotal));
  return 0;
}

int Figures(int argc, char** argv) {
  if (argc < 3) return Usage();
  morvane::bench::FigureOptions options;
  options.folder = argv[2];
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--small") {
      options.small = true;
    } else if (arg == "--convert-only") {
      options.convertOnly = true;
    } else if (arg == "--disc-only") {
      options.discOnly = true;
    } else if (i + 1 < argc && arg == "--cli") {
      options.cli = argv[++i];
    } else if (i + 1 < argc && arg == "--doc") {
      options.doc = argv[++i];
    } else if (i + 1 < argc && arg == "--runs") {
      options.runs = std::atoi(argv[++i]);
    } else {
      return Usage();
    }
  }
  if (options.cli.empty() || options.runs < 1) return Usage();
  return morvane::bench::RunFigures(options);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  try {
    if (command == "generate") return Generate(argc, argv);
    if (command == "figures") return Figures(argc, argv);
    if (command == "window") return morvane::bench::RunWindowCommand(argc, argv);
    if (command == "peak") return morvane::bench::RunPeakLauncher(argc, argv);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "morvane-bench: %s\n", failure.what());
    return 1;
  }
  return Usage();
}
