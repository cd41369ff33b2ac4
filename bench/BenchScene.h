// One effect instance on the substitute host, set up for timing frames: a
// composition whose effect layer and chosen layer have blank sources and
// tracing off. Either the host skips its pixel work, so that a frame costs
// the effect's code and the host calls it makes and nothing else, or the
// host's pixel callbacks are timed so that a frame's cost can be split into
// what the host spends on pixels and everything else.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "Session.h"

namespace bench {

// The module the benchmarks load: $TOVANE_MODULE, else the one this build made.
std::string ModulePath();

// Seconds of one frame, split by who spent them.
struct FrameSplit {
  double total = 0;  // both passes and the host's work around them
  double copy = 0;   // inside the host's copy callback
  double lend = 0;   // making the worlds the host lends: input, chosen layer, output
  // What remains: the effect's own code and every other host call it makes.
  // With the host's pixel work skipped, copy and lend are not timed and
  // this is the whole frame.
  double overhead() const { return total - copy - lend; }
};

struct RigOptions {
  A_long width = 1920, height = 1080;              // the effect layer and the composition
  A_long layer_width = 0, layer_height = 0;        // the chosen layer; 0 means the composition's size
  A_long mode = 4;                                 // "Fit to Layer"
  hostsim::BitDepth depth = hostsim::BitDepth::k8;
  bool skip_pixels = true;  // see Host::SetSkipPixels
};

class EffectRig {
 public:
  // Loads nothing itself: the module outlives the rig. Runs global setup and
  // params setup; throws std::runtime_error if either fails.
  EffectRig(const hostsim::Module& module, const RigOptions& options);
  ~EffectRig();
  EffectRig(const EffectRig&) = delete;
  EffectRig& operator=(const EffectRig&) = delete;

  // One pre-render/render pair through the host with tracing off, and the
  // host's freeing of the pre-render data. Throws
  // std::runtime_error when a pass fails, so a broken build cannot pass for
  // a fast one.
  FrameSplit RunFrame();
  // `count` frames timed as one batch, with the host's pixel work skipped;
  // the split holds the mean frame. Throws as RunFrame does.
  FrameSplit RunFrames(int count);

  // Runs one frame with tracing on and counts the host calls it made, by
  // name ("AcquireSuite", "copy", ...).
  std::map<std::string, int> CountHostCalls();

  hostsim::Host& host() { return host_; }

 private:
  FrameSplit RunTimedFrame(A_long now);
  PF_Err RenderUntimed(A_long now);

  hostsim::Host host_;
  hostsim::Session session_;
  A_long frame_ = 0;
};

}  // namespace bench
