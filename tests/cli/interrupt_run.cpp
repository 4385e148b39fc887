#include "interrupt_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "core/byte_file.h"

namespace morvane::test {

Interrupted InterruptWhileWriting(const std::string& program, const std::vector<std::string>& arguments,
                                  const std::string& folder, int signalNumber) {
  Interrupted result;
  const int watch = ::inotify_init1(IN_CLOEXEC);
  if (watch < 0 || ::inotify_add_watch(watch, folder.c_str(), IN_CREATE) < 0) return result;
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  bool seen = false;
  pollfd events{watch, POLLIN, 0};
  while (!seen && ::poll(&events, 1, 20000) > 0) {
    alignas(inotify_event) char buffer[4096];
    const ssize_t got = ::read(watch, buffer, sizeof buffer);
    for (char* at = buffer; got > 0 && at < buffer + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if (event->len > 0 && IsTemporaryName(event->name)) seen = true;
      at += sizeof(inotify_event) + event->len;
    }
  }
  const auto sent = std::chrono::steady_clock::now();
  ::kill(child, signalNumber);
  int status = 0;
  ::waitpid(child, &status, 0);
  result.tookToEnd =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
  ::close(watch);
  if (seen) result.status = status;
  return result;
}

}  // namespace morvane::test
