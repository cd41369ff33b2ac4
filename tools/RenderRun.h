// What every render of `tovane-host render` shares, the scene files' and the
// demo contact sheet's: its options, one effect instance run around a list
// of frames, the files it must not write over, and writing the trace.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "MemoryBudget.h"
#include "Module.h"
#include "ModuleProcess.h"
#include "ProtectedFiles.h"
#include "Session.h"
#include "SceneFile.h"

namespace render {

// The machine's hardware threads, at least 1.
int DefaultJobs();
// More than any machine this runs on has threads: a larger --jobs is a typo.
constexpr int kMaxJobs = 1024;

struct RenderOptions {
  std::string scene_path;
  bool scene_given = false;  // a scene path was given, if empty
  std::string module_path;
  std::string out_dir = ".";
  int depth = 0;  // 0: the scene's
  std::string trace_path;
  int timeout_seconds = 600;  // for one command of the module
  int jobs = DefaultJobs();     // frames rendered at once
  bool quiet = false;           // no frame list, no progress line
  hostsim::MemoryBudget memory;
};

// One effect instance's whole life around a list of frames, as the host runs
// it: setup, the visibility update for the chosen time type, the frames,
// setdown. Reports what the module left held or misused, and tells `stage`
// which command the module is given.
class EffectRun {
 public:
  EffectRun(const hostsim::Module& module, const hostsim::Scene& scene, hostsim::BitDepth depth, bool traced,
            ModuleStage& stage);

  // False with a message when setup failed.
  bool Start(std::string& problem);

  // `what` names the frame for a crash report ("frame 3 at 0.1 s (3/30)").
  hostsim::FrameResult Render(const A_Time& comp_time, const std::string& what);

  // Global setdown; false with messages when the module misbehaved.
  bool Finish(std::vector<std::string>& problems);

  hostsim::Host& host() { return host_; }

 private:
  ModuleStage& stage_;
  hostsim::Host host_;
  hostsim::Session session_;
  bool started_ = false;
};

// The stages of several threads told to one ModuleStage as one: every
// stage running, longest running first ("frame 2 at ... or frame 3 at ..."),
// told again whenever that changes. A module that dies is reported naming
// the frames it may have died in; a hang on one thread is timed from when
// the other threads could go no further.
class RunningStages {
 public:
  explicit RunningStages(ModuleStage& to) : to_(to) {}
  // The calling thread's stage begins, ending any it had running.
  void Begin(const std::string& what);
  // The calling thread's stage is over.
  void End();

 private:
  void Tell();  // with mutex_ held

  ModuleStage& to_;
  std::mutex mutex_;
  std::map<std::thread::id, std::pair<std::uint64_t, std::string>> running_;  // begun when, what
  std::uint64_t begun_ = 0;
  std::string told_;
};

// One thread's way into a started EffectRun: renders frames of the one
// effect instance while other lanes render others, as a host rendering on
// several threads does (Host::NewFrameLane). The run sends no command while
// lanes exist.
class FrameLane {
 public:
  FrameLane(EffectRun& run, RunningStages& stages);

  // Frame `number` (1, 2, ... in the render's order) at `comp_time`; the
  // lane's trace then holds the frame's entries alone, their records
  // numbered within the frame.
  hostsim::FrameResult Render(int number, const A_Time& comp_time, const std::string& what);

  // Why the host failed the frame just rendered when it did (an image it
  // could not read, say): the module sees only an error code, the trace
  // keeps the reason. Untraced, the frame is tried again traced and that
  // trace dropped.
  std::vector<std::string> HostFailuresOf(int number, const A_Time& comp_time, const std::string& what);

  // The frame's work is over (written too): its stage ends.
  void Done() { stages_.End(); }

  hostsim::Trace& trace() { return host_->trace(); }

 private:
  RunningStages& stages_;
  std::unique_ptr<hostsim::Host> host_;
  hostsim::Session session_;
};

// Adds the scene's source image files to the files the render reads.
void AddSourcesOf(const hostsim::Scene& scene, ProtectedFiles& files);

// Writes the traces to path, one after the other; false, with the reason on
// standard error, when it could not.
bool WriteTrace(const std::string& path, const std::vector<const hostsim::Trace*>& traces);

// Renders the demo contact sheet into options.out_dir, the module run in a
// child process (ModuleProcess.h); the exit status.
int RenderDemo(const RenderOptions& options);

}  // namespace render
