// The substitute host: stands where the compositing host stands for one
// effect instance. It fills the records of each command, hands the module
// its callbacks and suites (whose bodies, in callbacks/ and suites/, answer
// from the HostState this Host owns), and does what the host does after
// each command: keeps what the effect left for it and reclaims what it lent.
//
// One Host drives one effect instance on one thread at a time; several Hosts
// may drive the same loaded Module from several threads at once. To render
// frames of the one instance on several threads at once, as a host does,
// each thread drives a frame lane of the Host (NewFrameLane): a Host of its
// own that shares the instance (HostState.h). Beside it: the protocol in
// order (Session.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AE_Host.h"
#include "CurrentHost.h"
#include "HostState.h"
#include "Module.h"

namespace hostsim {

class Host {
 public:
  explicit Host(const Module& module);
  // A lane of this host's effect instance, for one thread rendering frames
  // while others do; this host outlives it and sends no command meanwhile.
  std::unique_ptr<Host> NewFrameLane();
  // Numbers the records the module makes from now on within frame `frame`
  // (1, 2, ...) in the trace, so that the trace reads the same at any count
  // of lanes; 0 numbers them by the host's tables again.
  void NumberRecordsForFrame(int frame) { state_->numbering = FrameNumbering{frame}; }
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  const Module& module() const { return module_; }
  // Everything the host knows; the host functions answer from it.
  HostState& state() { return *state_; }
  const HostState& state() const { return *state_; }

  Trace& trace() { return state_->trace; }
  const Trace& trace() const { return state_->trace; }
  FaultPlan& faults() { return state_->faults; }

  // ---- The scene ----------------------------------------------------------

  // The composition and the effect's values on its layer (settings.on_layer
  // names the layer that carries the effect).
  void SetScene(CompositionModel composition, EffectSettings settings) {
    state_->SetScene(std::move(composition), std::move(settings));
  }
  const CompositionModel& composition() const { return state_->scene.composition; }
  EffectSettings& settings() { return state_->scene.settings; }
  const EffectSettings& settings() const { return state_->scene.settings; }

  // Current resolution as a factor of full size per axis (1/1 by default).
  void SetDownsample(PF_RationalScale x, PF_RationalScale y);
  PF_RationalScale downsample_x() const { return state_->scene.downsample_x; }
  PF_RationalScale downsample_y() const { return state_->scene.downsample_y; }
  void SetBitDepth(BitDepth depth) { state_->scene.depth = depth; }
  BitDepth bit_depth() const { return state_->scene.depth; }

  A_long layer_width() const { return state_->layer_width(); }
  A_long layer_height() const { return state_->layer_height(); }
  struct Size {
    A_long width, height;
  };
  Size input_size() const { return {state_->input_width(), state_->input_height()}; }

  // ---- Commands -----------------------------------------------------------

  // The time step of one composition frame in the composition's time scale:
  // a 29.97 composition at scale 30000 steps 1001.
  A_long time_step() const;

  // An input record for one command at current_time (effect-layer time over
  // the composition's time scale), carrying the host's callbacks, the basic
  // suite, the global data the effect left at global setup and the count of
  // parameters it declared (the input layer included).
  PF_InData NewInData(A_long current_time) const;

  // Calls the module's entry point with this host current on the calling
  // thread, traces the command and its result, and then does what the host
  // does after each command: adopts the global data after global setup and
  // the pre-render data after pre-render, forgets the global data after
  // setdown, notes what the module left held, and reclaims the pixels and
  // parameters it lent for the command.
  PF_Err Send(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
              void* extra);

  // Makes this host current on the calling thread, for calling exported
  // functions of the module outside an entry-point call.
  CurrentHostScope MakeCurrent() { return CurrentHostScope(state_.get()); }

  // Makes this host current and `cmd` the running command for its lifetime,
  // for a test that calls host functions directly, as the module would
  // within that command.
  class CommandScope {
   public:
    CommandScope(HostState* state, PF_Cmd cmd) : state_(state), current_(state), previous_(state->command.running) {
      state_->command.running = cmd;
    }
    ~CommandScope() { state_->command.running = previous_; }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

   private:
    HostState* state_;
    CurrentHostScope current_;
    std::optional<PF_Cmd> previous_;
  };
  CommandScope AsIfIn(PF_Cmd cmd) { return CommandScope(state_.get(), cmd); }

  // ---- What the host keeps for the effect -------------------------------

  PF_Handle global_data() const { return state_->effect.global_data; }
  void set_global_data(PF_Handle handle) { state_->effect.global_data = handle; }
  HandleTable& handles() { return state_->effect.handles; }

  // The definitions received through add_param, in order (index 1 first).
  const std::vector<PF_ParamDef>& declared_params() const { return state_->effect.declared_params; }
  void ClearDeclaredParams() { state_->effect.declared_params.clear(); }
  PF_ParamIndex DeclaredIndex(const std::string& name) const { return state_->DeclaredIndex(name); }
  std::vector<std::string> UndeclaredControls() const { return state_->UndeclaredControls(); }

  // Dynamic stream flags the effect set on its parameter streams.
  AEGP_DynStreamFlags stream_flags(PF_ParamIndex index) const;
  bool stream_hidden(PF_ParamIndex index) const;

  // A parameter, or a control's value by name, as the host answers it at a
  // composition time (0 s unless given).
  PF_ParamDef ParamValue(PF_ParamIndex index, double comp_seconds = 0.0) const {
    return state_->ParamValue(index, comp_seconds);
  }
  std::optional<double> ControlValue(const std::string& name, double comp_seconds = 0.0) const {
    return state_->ControlValueAt(name, comp_seconds);
  }

  // Plug-in ids handed out by AEGP_RegisterWithAEGP.
  const std::vector<AEGP_PluginID>& plugin_ids() const { return state_->effect.plugin_ids; }

  // ---- Smart render -------------------------------------------------------

  PF_PreRenderCallbacks* pre_render_callbacks() { return &pre_render_callbacks_; }
  PF_SmartRenderCallbacks* smart_render_callbacks() { return &smart_render_callbacks_; }

  // What checkout_layer was asked in the most recent pre-render command.
  const std::vector<LayerRequest>& layer_requests() const { return state_->command.layer_requests; }

  // Prepares the worlds of a render pass: the output world will cover
  // output_rect (the pre-render's result rectangle; an empty one means the
  // whole input) and starts transparent black.
  void BeginRenderPass(const PF_LRect& output_rect);

  // The output world of the most recent render pass, or null.
  const PixelWorld* output_world() const { return state_->command.output_world.get(); }
  std::unique_ptr<PixelWorld> TakeOutputWorld() { return std::move(state_->command.output_world); }

  // Frees pre-render data the way the host does after the render pass (and
  // after a failed pre-render): through the effect's delete function when it
  // set one, else by disposing of the handle.
  void FreePreRenderData(PF_PreRenderOutput* output);

  // ---- Accounting ----------------------------------------------------------

  // What the module holds right now.
  Holdings holdings() const { return state_->holdings(); }
  // What the module held when its most recent command returned, before the
  // host reclaimed the pixels and parameters lent for that command.
  const Holdings& held_after_last_command() const { return held_after_last_command_; }
  // Misuse the host noticed (unknown handles and references, releases of
  // what was not acquired, calls with a foreign effect reference, calls
  // outside the commands allowed them, disposals out of order, a null world
  // handed to the copy), oldest first.
  const std::vector<std::string>& errors() const { return state_->misuses; }
  void ClearErrors() { state_->misuses.clear(); }

 private:
  // Notes what escaped a command's entry point, if anything (null when
  // nothing did), and traces the command.
  void RecordCommand(PF_Cmd cmd, PF_Err result, const char* escaped);
  void ReclaimCommandLoans();

  Host(const Module& module, std::unique_ptr<HostState> state);

  const Module& module_;
  std::unique_ptr<HostState> state_;
  // Callback tables handed to the module; they live as long as the host.
  PF_InteractCallbacks interact_{};
  PF_UtilCallbacks utils_{};
  PF_PreRenderCallbacks pre_render_callbacks_{};
  PF_SmartRenderCallbacks smart_render_callbacks_{};
  Holdings held_after_last_command_;
};

}  // namespace hostsim
