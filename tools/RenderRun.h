// What every render of `tovane-host render` shares, the scene files' and the
// demo contact sheet's: its options, one effect instance run around a list
// of frames, the files it must not write over, and writing the trace.
#pragma once

#include <string>
#include <vector>

#include "MemoryBudget.h"
#include "Module.h"
#include "ModuleProcess.h"
#include "ProtectedFiles.h"
#include "Session.h"
#include "SceneFile.h"

namespace render {

struct RenderOptions {
  std::string scene_path;
  bool scene_given = false;  // a scene path was given, if empty
  std::string module_path;
  std::string out_dir = ".";
  int depth = 0;  // 0: the scene's
  std::string trace_path;
  int timeout_seconds = 600;  // for one command of the module
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

  // Why the host failed the frame at `time` when it did (an image it could
  // not read, say): the module sees only an error code, the trace keeps the
  // reason. Untraced, the frame is tried again traced and that trace dropped.
  std::vector<std::string> HostFailuresAt(const A_Time& time, std::size_t first_traced_entry);

 private:
  ModuleStage& stage_;
  hostsim::Host host_;
  hostsim::Session session_;
  bool started_ = false;
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
