// One frame driven through both smart-render passes, with everything the
// host can see compared against the rendering rules: the parameters read at
// the current time, the input asked for, the output extent reported, the
// source time asked for, and the rectangles of the copy.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Session.h"
#include "EffectControls.h"

namespace hostsim::validate {

struct FrameRun {
  PF_Err pre_render = PF_Err_NONE;
  PF_Err render = PF_Err_NONE;
  bool rendered = false;
  std::unique_ptr<PixelWorld> output;
  int copies = 0;
  bool placed = false;  // the copy took the chosen layer's frame, not the input
  PF_LRect src{}, dst{};  // the copy's rectangles, when placed
  A_Time source_time{0, 0};  // the composition time the effect asked for, when it asked
};

// What the passes are expected to return. Normally 0; a scene whose chosen
// layer id names no layer makes the host's layer lookup fail with 513.
struct FrameExpectation {
  PF_Err pre_render = PF_Err_NONE;
  PF_Err render = PF_Err_NONE;
};

// Renders the frame at `current_time` with the host's current scene and
// settings, appending one sentence per difference (each starting with
// `label`) to `failures`. The pre-render data is freed before returning.
FrameRun RenderAndCheckFrame(Session& session, A_long current_time, const std::string& label,
                             std::vector<std::string>& failures, const FrameExpectation& expected = {});

// A frame whose pre-render has run and whose render has not yet: a host may
// pre-render several frames before it renders any of them. Its pre-render
// data stays with the host until the render below frees it.
struct PreRenderedFrame {
  A_long current_time = 0;
  std::string label;
  FrameExpectation expected;
  PF_PreRenderOutput output{};
  FrameRun run;
};

// The two halves of RenderAndCheckFrame, for driving frames interleaved.
// The host's scene and settings must be the frame's own for each half.
PreRenderedFrame PreRenderAndCheckFrame(Session& session, A_long current_time, const std::string& label,
                                        std::vector<std::string>& failures, const FrameExpectation& expected = {});
FrameRun RenderAndCheckPreRendered(Session& session, PreRenderedFrame& frame, std::vector<std::string>& failures);

// A digest of a world's pixels (padding excluded) and its size, for telling
// two renders apart without keeping both.
std::uint64_t WorldDigest(const PixelWorld* world);

}  // namespace hostsim::validate
