#include "cli/arguments.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>
#endif

namespace morvane {

#ifdef _WIN32

namespace {
std::string Utf8FromWide(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back();  // the terminating NUL
  return utf8;
}
}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  // What is printed is UTF-8 too: the console is told so.
  ::SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

#else

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

#endif

}  // namespace morvane
