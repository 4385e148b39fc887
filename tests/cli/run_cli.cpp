#include "run_cli.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace morvane::test {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

// Reads both descriptors until each is at its end.
void Drain(int outFd, int errFd, CliRun& run) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, 30000) <= 0) throw std::runtime_error("morvane-cli did not finish");
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        // End of a pipe, or EIO once the terminal's last writer has gone.
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

CliRun RunCli(const std::vector<std::string>& arguments, const std::string& folder, bool stderrTerminal) {
  int outPipe[2];
  Check(::pipe(outPipe) == 0, "pipe");
  int errRead = -1;
  int errWrite = -1;
  if (stderrTerminal) {
    errRead = ::posix_openpt(O_RDWR | O_NOCTTY);
    Check(errRead >= 0 && ::grantpt(errRead) == 0 && ::unlockpt(errRead) == 0, "pseudo-terminal");
    // Opened here, before the child runs, so that the terminal never looks
    // closed to the reader.
    errWrite = ::open(::ptsname(errRead), O_RDWR | O_NOCTTY);
    Check(errWrite >= 0, "pseudo-terminal");
  } else {
    int errPipe[2];
    Check(::pipe(errPipe) == 0, "pipe");
    errRead = errPipe[0];
    errWrite = errPipe[1];
  }

  std::vector<char*> argv;
  std::string program = MORVANE_CLI_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies = arguments;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  Check(child >= 0, "fork");
  if (child == 0) {
    ::close(errRead);
    ::close(outPipe[0]);
    ::dup2(outPipe[1], STDOUT_FILENO);
    ::dup2(errWrite, STDERR_FILENO);
    ::close(outPipe[1]);
    ::close(errWrite);
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errWrite);

  CliRun run;
  Drain(outPipe[0], errRead, run);
  int status = 0;
  Check(::waitpid(child, &status, 0) == child, "waitpid");
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::uint32_t LittleEndian32At(const std::vector<unsigned char>& bytes, std::size_t offset) {
  if (offset + 4 > bytes.size()) throw std::out_of_range("file too short");
  return std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
         std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24;
}

}  // namespace morvane::test
