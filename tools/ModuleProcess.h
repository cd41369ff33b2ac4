// Runs the part of a command that drives the effect module in a child
// process of its own, so that a module that crashes, hangs or ends the
// process is reported as such, naming what it was asked to do, and the
// command still ends with its documented status. The whole run, every frame,
// happens in the one child: the module is loaded once, and frames render on
// several threads there (render --jobs), each telling the one ModuleStage
// what it does (RunningStages in RenderRun.h).
//
// Files the child writes go through temporary files (FileAccess.h) and are
// renamed over their final names by this process only once the child has
// ended by returning from `body`; otherwise they are removed, so nothing a
// failed child wrote is left under a final name.
//
// On Linux the child is a fork of this process (ModuleProcessPosix.cpp). On
// Windows it is this program started again with the same command line
// (ModuleProcessWindows.cpp): the command must reach this call in the child
// as it did here, doing nothing before it that may not be done twice.
#pragma once

#include <functional>
#include <string>

// What the module is being asked to do now ("frame 3 at 0.1 s (3/30)"): the
// name a crash or hang is reported by. Each stage has the full time limit.
class ModuleStage {
 public:
  virtual ~ModuleStage() = default;
  virtual void Begin(const std::string& what) = 0;
};

// Runs `body` and returns its status, or kExitFailed with one line on
// standard error starting with `command` when the child crashed, ended
// the process, or spent more than `stage_timeout_seconds` on one stage.
int RunModuleInChild(const char* command, int stage_timeout_seconds, const std::function<int(ModuleStage&)>& body);
