// One effect instance on the substitute host, set up for counting a frame's
// cost: a composition whose effect layer and chosen layer have blank
// sources, with tracing off.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "Session.h"
#include "EffectControls.h"

namespace bench {

// The module the benchmarks load: $TOVANE_MODULE, else the one this build made.
std::string ModulePath();

struct RigOptions {
  A_long width = 1920, height = 1080;        // the effect layer and the composition
  A_long layer_width = 0, layer_height = 0;  // the chosen layer; 0 means the composition's size
  A_long mode = hostsim::controls::kFitToLayer;
  hostsim::BitDepth depth = hostsim::BitDepth::k8;
};

class EffectRig {
 public:
  // Loads nothing itself: the module outlives the rig. Runs global setup and
  // params setup; throws std::runtime_error if either fails.
  EffectRig(const hostsim::Module& module, const RigOptions& options);
  ~EffectRig();
  EffectRig(const EffectRig&) = delete;
  EffectRig& operator=(const EffectRig&) = delete;

  // `count` pre-render/render pairs through the host with tracing off, each
  // followed by the host's freeing of the pre-render data. Throws
  // std::runtime_error when a pass fails, so a broken build cannot pass for
  // a fast one.
  void RunFrames(int count);

  // Runs one frame with tracing on and counts the host calls it made, by
  // name ("AcquireSuite", "copy", ...).
  std::map<std::string, int> CountHostCalls();

  hostsim::Host& host() { return host_; }

 private:
  hostsim::Host host_;
  hostsim::Session session_;
  A_long frame_ = 0;
};

}  // namespace bench
