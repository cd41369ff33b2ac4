#include "ModuleProcess.h"

#include <iostream>
#include <utility>
#include <vector>

#include "CommandSupport.h"
#include "FileAccess.h"

#if !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#endif

namespace {

#if defined(_WIN32)

class InProcessStage : public ModuleStage {
 public:
  void Begin(const std::string&) override {}
};

#else

// Records on the pipe from the child: a kind byte, a 4-byte length and that
// many bytes. A finished file's record holds both names, split by a zero
// byte, which no path holds.
enum Record : char { kStage = 'S', kCreated = 'C', kFinished = 'F', kReturned = 'R' };

class ChildChannel : public ModuleStage {
 public:
  explicit ChildChannel(int fd) : fd_(fd) {}

  void Begin(const std::string& what) override { Send(kStage, what); }

  void Send(Record kind, const std::string& payload) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::string record(1, kind);
    record.append(reinterpret_cast<const char*>(&length), sizeof length);
    record += payload;
    const char* at = record.data();
    std::size_t left = record.size();
    while (left > 0) {
      const ssize_t written = write(fd_, at, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) _exit(kExitFailed);  // the parent is gone: nothing to report to
      at += written;
      left -= static_cast<std::size_t>(written);
    }
  }

 private:
  int fd_;
  std::mutex mutex_;
};

// What the parent learns from the child.
struct ChildReport {
  std::string stage = "loading the module";
  std::vector<std::string> temporaries;                        // every one created
  std::vector<std::pair<std::string, std::string>> finished;  // temporary, final name
  bool returned = false;
  int status = kExitFailed;
};

// Takes whole records off the front of `buffer` into `report`.
void TakeRecords(std::string& buffer, ChildReport& report) {
  std::size_t at = 0;
  for (;;) {
    std::uint32_t length = 0;
    if (buffer.size() - at < 1 + sizeof length) break;
    std::memcpy(&length, buffer.data() + at + 1, sizeof length);
    if (buffer.size() - at - 1 - sizeof length < length) break;
    const char kind = buffer[at];
    std::string payload = buffer.substr(at + 1 + sizeof length, length);
    at += 1 + sizeof length + length;
    switch (kind) {
      case kStage: report.stage = std::move(payload); break;
      case kCreated: report.temporaries.push_back(std::move(payload)); break;
      case kFinished: {
        const std::size_t split = payload.find('\0');
        report.finished.emplace_back(payload.substr(0, split), payload.substr(split + 1));
        break;
      }
      case kReturned:
        report.returned = true;
        report.status = payload.empty() ? kExitFailed : static_cast<unsigned char>(payload[0]);
        break;
      default: break;
    }
  }
  buffer.erase(0, at);
}

void RemoveAll(const std::vector<std::string>& temporaries) {
  for (const std::string& temporary : temporaries) {
    std::error_code ignored;
    std::filesystem::remove(hostsim::PathFromUtf8(temporary), ignored);
  }
}

[[noreturn]] void RunChild(int fd, const char* command, const std::function<int(ModuleStage&)>& body) {
  // The child goes when the command does, whatever ends it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  ChildChannel channel(fd);
  hostsim::SetTemporaryFileHandoff(
      {[&](const std::string& temporary) { channel.Send(kCreated, temporary); },
       [&](const std::string& temporary, const std::string& path) {
         channel.Send(kFinished, temporary + std::string(1, '\0') + path);
       }});
  int status = kExitFailed;
  try {
    RunCommand(command, [&] { return body(channel); });
    status = 0;
  } catch (const CLI::RuntimeError& finished) {
    status = finished.get_exit_code();
  }
  std::cout.flush();
  std::cerr.flush();
  channel.Send(kReturned, std::string(1, static_cast<char>(status)));
  _exit(status);
}

#endif

}  // namespace

int RunModuleInChild(const char* command, int stage_timeout_seconds, const std::function<int(ModuleStage&)>& body) {
#if defined(_WIN32)
  (void)command;
  (void)stage_timeout_seconds;
  InProcessStage stage;
  return body(stage);
#else
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
    TakeRecords(buffer, report);
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
    failure = "the module did not return within " + std::to_string(stage_timeout_seconds) + " s (--timeout) from " +
              report.stage + "; it was ended";
  } else if (WIFSIGNALED(status)) {
    const int signal_number = WTERMSIG(status);
    failure = "the module crashed (signal " + std::to_string(signal_number) + ", " + strsignal(signal_number) +
              ") during " + report.stage;
  } else if (!report.returned) {
    failure = "the module ended the process (exit status " + std::to_string(WEXITSTATUS(status)) + ") during " +
              report.stage;
  }
  if (!failure.empty()) {
    RemoveAll(report.temporaries);
    std::cerr << command << ": " << failure << "; no file it wrote was kept\n";
    return kExitFailed;
  }
  int result = report.status;
  for (const auto& [temporary, path] : report.finished) {
    try {
      hostsim::CommitTemporary(temporary, path);
    } catch (const hostsim::FileAccessError& refused) {
      std::cerr << command << ": " << refused.what() << '\n';
      result = kExitFailed;
    }
  }
  return result;
#endif
}
