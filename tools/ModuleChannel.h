// What the module's child process tells the command's process, the same on
// every platform (ModuleProcess.h): the stage the module is in, each
// temporary file it creates and each it finishes, and its status when it
// returns. Only how the bytes travel and how the child is started and
// watched differ, in ModuleProcessPosix.cpp and ModuleProcessWindows.cpp.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "CommandSupport.h"
#include "ModuleProcess.h"

// The child's end: stages and files go out as records through `write_all`,
// which writes every byte or ends the process (the parent is gone, and there
// is no one left to report to). Safe to call from several threads.
class ChildChannel : public ModuleStage {
 public:
  using WriteAll = std::function<void(const char* bytes, std::size_t size)>;
  explicit ChildChannel(WriteAll write_all) : write_all_(std::move(write_all)) {}

  void Begin(const std::string& what) override;

  // Runs `body` as `command`'s module process: hands its temporary files to
  // the parent, turns whatever it throws into one line and a status, and
  // sends that status. Returns the status, for the child's exit.
  int RunBody(const char* command, const std::function<int(ModuleStage&)>& body);

 private:
  void Send(char kind, const std::string& payload);

  WriteAll write_all_;
  std::mutex mutex_;
};

// The parent's end: what it learned from the child.
struct ChildReport {
  std::string stage = "loading the module";
  std::vector<std::string> temporaries;                        // every one created
  std::vector<std::pair<std::string, std::string>> finished;  // temporary, final name
  bool returned = false;
  int status = kExitFailed;

  // Takes the whole records off the front of `buffer`, leaving a cut one.
  void Take(std::string& buffer);
};

// The failure of a child that spent more than the time limit on one stage.
std::string TimedOutFailure(int stage_timeout_seconds, const ChildReport& report);

// Ends the run in the parent once the child is gone. With a `failure` (what
// went wrong, naming the stage) every temporary file the child created is
// removed and the failure said; otherwise the finished files are renamed
// into place. Returns the command's status.
int ConcludeChild(const char* command, const std::string& failure, const ChildReport& report);
