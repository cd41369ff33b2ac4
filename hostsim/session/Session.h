// One readable drive of the effect's whole protocol over a Host: global
// setup, params setup, the visibility update, About, a pre-render/render pair
// per frame and global setdown. The command-line tool, the tests and the
// validator all drive the effect through this.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Host.h"

namespace hostsim {

// What one frame produced.
struct FrameResult {
  PF_Err pre_render = PF_Err_NONE;
  PF_Err render = PF_Err_NONE;
  bool rendered = false;  // the render pass ran (only after a successful pre-render)
  PF_PreRenderOutput pre_render_output{};  // as the pre-render pass left it
  std::unique_ptr<PixelWorld> output;      // the render pass's output world, or null

  // The first failure of the frame, 0 when both passes succeeded.
  PF_Err error() const { return pre_render != PF_Err_NONE ? pre_render : render; }
};

class Session {
 public:
  explicit Session(Host& host) : host_(host) {}

  Host& host() { return host_; }

  PF_Err About();
  PF_Err GlobalSetup();
  PF_Err ParamsSetup();
  // Sends the visibility update with the parameters as the settings give them.
  PF_Err UpdateParamsUI();
  // The user sets a control: the value goes into the settings, and the
  // visibility update follows.
  PF_Err UpdateParamsUI(const std::string& control, double value);
  PF_Err GlobalSetdown();

  // One frame at current_time (effect-layer time over the composition's time
  // scale): pre-render, then render if pre-render succeeded, then the host
  // frees the pre-render data.
  FrameResult RenderFrame(A_long current_time);
  // The same at a composition time.
  FrameResult RenderFrameAtCompTime(const A_Time& comp_time);

  // The two passes on their own. SmartRender takes the pre-render data and
  // the output rectangle the pre-render reported; neither frees anything.
  PF_Err SmartPreRender(A_long current_time, PF_PreRenderOutput* output);
  PF_Err SmartRender(A_long current_time, PF_Handle pre_render_data, const PF_LRect& output_rect);

  // Any command with ordinary records (no extra), e.g. codes the effect ignores.
  PF_Err SendPlain(PF_Cmd cmd);

  // The output record of the most recent command.
  const PF_OutData& out_data() const { return out_data_; }
  // The About text of the most recent About command.
  std::string about_text() const { return out_data_.return_msg; }

  // The request the host sends with pre-render; unless set, the whole input
  // at the current resolution, all channels, zero-alpha colour not kept.
  void set_output_request(const PF_RenderRequest& request) { output_request_ = request; }
  PF_RenderRequest output_request() const;

  // Lets a test change the records of each command before it is sent (a
  // null basic suite, flags already set by the host, ...).
  using RecordHook = std::function<void(PF_Cmd, PF_InData&, PF_OutData&)>;
  void set_record_hook(RecordHook hook) { record_hook_ = std::move(hook); }

 private:
  PF_Err Send(PF_Cmd cmd, A_long current_time, PF_ParamDef* params[], void* extra);

  Host& host_;
  PF_OutData out_data_{};
  std::optional<PF_RenderRequest> output_request_;
  RecordHook record_hook_;
};

}  // namespace hostsim
