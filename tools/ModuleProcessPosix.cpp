// RunModuleInChild where there is fork: the child is this process's copy,
// which runs the body and writes its records into a pipe.
#include "ModuleProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

#include "CommandSupport.h"
#include "ModuleChannel.h"

namespace {

[[noreturn]] void RunChild(int fd, const char* command, const std::function<int(ModuleStage&)>& body) {
  // The child goes when the command does, whatever ends it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  ChildChannel channel([fd](const char* at, std::size_t left) {
    while (left > 0) {
      const ssize_t written = write(fd, at, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) _exit(kExitFailed);
      at += written;
      left -= static_cast<std::size_t>(written);
    }
  });
  _exit(channel.RunBody(command, body));
}

}  // namespace

int RunModuleInChild(const char* command, int stage_timeout_seconds, const std::function<int(ModuleStage&)>& body) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
  std::cout.flush();
  std::cerr.flush();
  const pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    throw std::runtime_error(std::string("cannot start a process for the module: ") + std::strerror(errno));
  }
  if (child == 0) {
    close(fds[0]);
    setpgid(0, 0);
    RunChild(fds[1], command, body);
  }
  setpgid(child, child);  // also here, so no kill can come before the child's own call
  close(fds[1]);

  // The time limit is kept here, not by an alarm in the child, which the
  // module could block or reset; each record from the child restarts it.
  ChildReport report;
  std::string buffer;
  char chunk[65536];
  bool timed_out = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(stage_timeout_seconds);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    pollfd ready{fds[0], POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) continue;
    const ssize_t got = read(fds[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // every writer is gone: the child ended, or closed the pipe
    buffer.append(chunk, static_cast<std::size_t>(got));
    report.Take(buffer);
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(stage_timeout_seconds);
  }
  close(fds[0]);
  // Whatever the child started goes with it; it is reaped after, so its id
  // cannot meanwhile pass to another process.
  if (timed_out) kill(-child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  kill(-child, SIGKILL);

  std::string failure;
  if (timed_out) {
    failure = TimedOutFailure(stage_timeout_seconds, report);
  } else if (WIFSIGNALED(status)) {
    const int signal_number = WTERMSIG(status);
    failure = "the module crashed (signal " + std::to_string(signal_number) + ", " + strsignal(signal_number) +
              ") during " + report.stage;
  } else if (!report.returned) {
    failure = "the module ended the process (exit status " + std::to_string(WEXITSTATUS(status)) + ") during " +
              report.stage;
  }
  return ConcludeChild(command, failure, report);
}
