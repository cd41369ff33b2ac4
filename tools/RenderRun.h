// What every render of `tovane-host render` shares, the scene files' and the
// demo contact sheet's: its options, one effect instance run around a list
// of frames, the files it must not write over, and writing the trace.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "MemoryBudget.h"
#include "Module.h"
#include "Session.h"
#include "SceneFile.h"

namespace render {

struct RenderOptions {
  std::string scene_path;
  std::string module_path;
  std::string out_dir = ".";
  int depth = 0;  // 0: the scene's
  std::string trace_path;
  hostsim::MemoryBudget memory;
};

// One effect instance's whole life around a list of frames, as the host runs
// it: setup, the visibility update for the chosen time type, the frames,
// setdown. Reports what the module left held or misused.
class EffectRun {
 public:
  EffectRun(const hostsim::Module& module, const hostsim::Scene& scene, hostsim::BitDepth depth, bool traced);

  // False with a message when setup failed.
  bool Start(std::string& problem);

  hostsim::FrameResult Render(const A_Time& comp_time) { return session_.RenderFrameAtCompTime(comp_time); }

  // Global setdown; false with messages when the module misbehaved.
  bool Finish(std::vector<std::string>& problems);

  hostsim::Host& host() { return host_; }

  // Why the host failed the frame at `time` when it did (an image it could
  // not read, say): the module sees only an error code, the trace keeps the
  // reason. Untraced, the frame is tried again traced and that trace dropped.
  std::vector<std::string> HostFailuresAt(const A_Time& time, std::size_t first_traced_entry);

 private:
  hostsim::Host host_;
  hostsim::Session session_;
  bool started_ = false;
};

// Every file a render reads, so that none of them is written over.
class InputFiles {
 public:
  void Add(const std::string& path);
  void AddSources(const hostsim::Scene& scene);
  // Throws naming the output and saying what it would overwrite.
  void RefuseOverwrite(const std::string& output, const char* what) const;

 private:
  std::set<std::filesystem::path> canonical_;
};

// Writes the traces to path, one after the other; false, with the reason on
// standard error, when it could not.
bool WriteTrace(const std::string& path, const std::vector<const hostsim::Trace*>& traces);

// Renders the demo contact sheet into options.out_dir; the exit status.
int RenderDemo(const RenderOptions& options, const hostsim::Module& module);

}  // namespace render
