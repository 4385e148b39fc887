#include "processes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace morvane::bench {

ProcessRun RunProcess(const std::vector<std::string>& argv, const std::string& stdoutPath,
                      const std::string& stderrPath) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int writeFlags = O_WRONLY | O_CREAT | O_TRUNC;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                   writeFlags, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                                   writeFlags, 0644);

  ProcessRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + argv[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("lost the child " + argv[0]);
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

int RunPeakLauncher(int argc, char** argv) {
  if (argc < 4) return 2;
  const pid_t child = ::fork();
  if (child < 0) return 1;
  if (child == 0) {
    ::execvp(argv[3], argv + 3);
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 1;
  }
  std::ofstream(argv[2], std::ios::trunc) << usage.ru_maxrss << "\n";
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace morvane::bench
