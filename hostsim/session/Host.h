// The substitute host: stands where the compositing host stands for one
// effect instance. It fills the records of each command, answers every
// callback and suite function the module calls, checks every handle and
// reference that comes back, traces each call, injects faults on request and
// counts what the module holds.
//
// One Host drives one effect instance on one thread at a time; several Hosts
// may drive the same loaded Module from several threads at once. Beside it:
// the protocol in order (Session.h), the modelled composition
// (Composition.h), the parameters as declared (DeclaredParams.cpp) and the
// frames the host lends (Frames.cpp).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "AE_Host.h"
#include "Composition.h"
#include "CurrentHost.h"
#include "FaultPlan.h"
#include "HandleTable.h"
#include "HostFunctions.h"
#include "Holdings.h"
#include "Module.h"
#include "ReferenceTable.h"
#include "Trace.h"
#include "TraceEntry.h"
#include "pixels/PixelWorld.h"

namespace hostsim {

// What a checkout_layer call of the pre-render pass asked for.
struct LayerRequest {
  PF_ParamIndex index = 0;
  A_long checkout_id = 0;
  PF_RenderRequest request{};
  A_long what_time = 0;
  A_long time_step = 0;
  A_u_long time_scale = 0;
};

class Host {
 public:
  explicit Host(const Module& module);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  const Module& module() const { return module_; }
  Trace& trace() { return trace_; }
  const Trace& trace() const { return trace_; }
  FaultPlan& faults() { return faults_; }

  // ---- The scene ----------------------------------------------------------

  // The composition and the effect's parameter values on its layer
  // (settings.on_layer names the layer that carries the effect).
  void SetScene(CompositionModel composition, EffectSettings settings);
  const CompositionModel& composition() const { return composition_; }
  EffectSettings& settings() { return settings_; }
  const EffectSettings& settings() const { return settings_; }

  // Current resolution as a factor of full size per axis (1/1 by default).
  void SetDownsample(PF_RationalScale x, PF_RationalScale y);
  PF_RationalScale downsample_x() const { return downsample_x_; }
  PF_RationalScale downsample_y() const { return downsample_y_; }
  void SetBitDepth(BitDepth depth) { bit_depth_ = depth; }
  BitDepth bit_depth() const { return bit_depth_; }

  // The effect layer's full-resolution size (the composition's when the
  // scene has no such layer) and the same at the current resolution.
  A_long layer_width() const;
  A_long layer_height() const;
  A_long input_width() const;
  A_long input_height() const;
  struct Size {
    A_long width, height;
  };
  Size input_size() const;

  // ---- Commands -----------------------------------------------------------

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
  CurrentHostScope MakeCurrent() { return CurrentHostScope(this); }

  // Makes this host current and `cmd` the running command for its lifetime,
  // for a test that calls host functions directly, as the module would
  // within that command.
  class CommandScope {
   public:
    CommandScope(Host* host, PF_Cmd cmd) : host_(host), current_(host), previous_(host->running_command_) {
      host_->running_command_ = cmd;
    }
    ~CommandScope() { host_->running_command_ = previous_; }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

   private:
    Host* host_;
    CurrentHostScope current_;
    std::optional<PF_Cmd> previous_;
  };
  CommandScope AsIfIn(PF_Cmd cmd) { return CommandScope(this, cmd); }

  // ---- What the host keeps for the effect -------------------------------

  PF_Handle global_data() const { return global_data_; }
  void set_global_data(PF_Handle handle) { global_data_ = handle; }

  // The definitions received through add_param, in order (index 1 first).
  // Everything the host answers about the effect's parameters comes from
  // these and the scene's settings.
  const std::vector<PF_ParamDef>& declared_params() const { return declared_params_; }
  void ClearDeclaredParams() { declared_params_.clear(); }
  // The name a declared parameter carries; empty for an index not declared.
  std::string DeclaredName(PF_ParamIndex index) const;
  // The index of the parameter declared with this name; 0 when there is none.
  PF_ParamIndex DeclaredIndex(const std::string& name) const;
  // The control names the settings give values for that the module never
  // declared (after params setup, a scene naming one is refused).
  std::vector<std::string> UndeclaredControls() const;

  // Dynamic stream flags the effect set on its parameter streams.
  AEGP_DynStreamFlags stream_flags(PF_ParamIndex index) const;
  bool stream_hidden(PF_ParamIndex index) const;

  // A parameter as the host hands it out: its declaration with the value
  // the settings give its name, or the declared default. Index 0 is the
  // effect's input layer. False for an index the module did not declare.
  bool WriteParamValue(PF_ParamIndex index, PF_ParamDef* def) const;
  // The same as a value; a record of no type for an undeclared index.
  PF_ParamDef ParamValue(PF_ParamIndex index) const;
  // A control's value as a number: the settings' value for its name, else
  // its declared default (a popup's entry, a slider's value as shown, a
  // layer control's layer id); nullopt for a name the module did not declare.
  std::optional<double> ControlValue(const std::string& name) const;

  // Plug-in ids handed out by AEGP_RegisterWithAEGP.
  const std::vector<AEGP_PluginID>& plugin_ids() const { return plugin_ids_; }

  // ---- Smart render -------------------------------------------------------

  PF_PreRenderCallbacks* pre_render_callbacks() { return &pre_render_callbacks_; }
  PF_SmartRenderCallbacks* smart_render_callbacks() { return &smart_render_callbacks_; }

  // What checkout_layer was asked in the most recent pre-render command.
  const std::vector<LayerRequest>& layer_requests() const { return layer_requests_; }

  // Prepares the worlds of a render pass: the output world will cover
  // output_rect (the pre-render's result rectangle; an empty one means the
  // whole input) and starts transparent black.
  void BeginRenderPass(const PF_LRect& output_rect);

  // The output world of the most recent render pass, or null.
  const PixelWorld* output_world() const { return output_world_.get(); }
  std::unique_ptr<PixelWorld> TakeOutputWorld() { return std::move(output_world_); }

  // Frees pre-render data the way the host does after the render pass (and
  // after a failed pre-render): through the effect's delete function when it
  // set one, else by disposing of the handle.
  void FreePreRenderData(PF_PreRenderOutput* output);

  // ---- Accounting ----------------------------------------------------------

  // What the module holds right now.
  Holdings holdings() const;
  // What the module held when its most recent command returned, before the
  // host reclaimed the pixels and parameters lent for that command.
  const Holdings& held_after_last_command() const { return held_after_last_command_; }
  // Misuse the host noticed (unknown handles and references, releases of
  // what was not acquired, calls with a foreign effect reference, calls
  // outside the commands allowed them, disposals out of order), oldest first.
  const std::vector<std::string>& errors() const { return errors_; }
  void ClearErrors() { errors_.clear(); }

  // ---- Used by the functions the module calls (not by drivers) ---------

  void Record(TraceEntry& entry) {
    if (std::unique_ptr<nlohmann::ordered_json> json = entry.Take()) trace_.Add(std::move(*json));
  }
  // Notes a misuse in the entry and in errors().
  void Misuse(TraceEntry& entry, std::string_view what);
  // Checks the effect reference a callback received; notes a null or
  // foreign one as a misuse.
  bool CheckEffectRef(PF_ProgPtr effect_ref, TraceEntry& entry);
  // Checks that the running command may call `function`; notes a breach
  // as a misuse.
  bool CheckCalledInCommand(const HostFunction& function, TraceEntry& entry);

  struct StreamRecord {
    PF_ParamIndex index;
    const void* effect;  // the effect reference the stream was made from
  };
  struct StreamValueRecord {
    AEGP_StreamRefH stream;
  };
  struct CheckedOutParam {
    PF_ParamIndex index = 0;
    std::unique_ptr<PixelWorld> frame;  // a layer parameter's pixels, when it has some
  };
  struct LayerSlot {
    std::size_t index;  // into composition().layers
  };

  HandleTable& handles() { return handles_; }
  // How many times the module holds a suite: acquired and not yet released.
  int& suite_loans(const std::string& name, A_long version) { return suite_loans_[{name, version}]; }
  ReferenceTable<AEGP_PluginID>& effect_refs() { return effect_refs_; }
  ReferenceTable<StreamRecord>& stream_refs() { return stream_refs_; }
  std::map<const AEGP_StreamValue2*, StreamValueRecord>& stream_values() { return stream_values_; }
  std::map<const PF_ParamDef*, CheckedOutParam>& checked_out_params() { return checked_out_params_; }
  std::map<A_long, std::unique_ptr<PixelWorld>>& checked_out_layer_pixels() { return checked_out_layer_pixels_; }
  std::vector<LayerRequest>& mutable_layer_requests() { return layer_requests_; }
  std::vector<PF_ParamDef>& mutable_declared_params() { return declared_params_; }
  std::map<PF_ParamIndex, AEGP_DynStreamFlags>& mutable_stream_flags() { return stream_flags_; }
  AEGP_PluginID RegisterPlugin();
  bool KnowsPluginId(AEGP_PluginID id) const;
  PF_ProgPtr effect_ref() const { return effect_ref_; }

  // Layer and composition handles stay valid for the scene's life.
  AEGP_LayerH LayerHandle(std::size_t index) const;
  AEGP_LayerH EffectLayerHandle() const;
  const LayerModel* FindLayer(AEGP_LayerH layer) const;
  const LayerModel* FindLayerById(A_long id) const;
  AEGP_LayerH LayerHandleById(A_long id) const;
  AEGP_CompH comp_handle() const { return reinterpret_cast<AEGP_CompH>(comp_sentinel_.get()); }
  bool IsCompHandle(AEGP_CompH comp) const { return comp == comp_handle(); }

  // The render pass's worlds (null outside a render pass).
  PixelWorld* pending_output_world() { return output_world_.get(); }
  bool output_checked_out() const { return output_checked_out_; }
  void set_output_checked_out(bool out) { output_checked_out_ = out; }
  // The effect layer's frame at the current time, for checkout_layer_pixels.
  std::unique_ptr<PixelWorld> RenderInputFrame() const;
  // A layer's frame at a composition time in seconds; null when the layer
  // has no source or is not shown then. *frame_index receives the frame drawn.
  std::unique_ptr<PixelWorld> RenderLayerFrame(const LayerModel& layer, double comp_seconds,
                                               A_long* frame_index) const;
  // Whether data points at pixels the host lent for the current command.
  bool IsLentWorld(const PF_EffectWorld* world) const;
  A_long current_time() const { return current_time_; }

 private:
  // Notes what escaped a command's entry point, if anything (null when
  // nothing did), and traces the command.
  void RecordCommand(PF_Cmd cmd, PF_Err result, const char* escaped);
  void ReclaimCommandLoans();
  bool IsPreRenderHandle(PF_Handle handle) const;
  // A fresh world for the current bit depth, transparent black.
  std::unique_ptr<PixelWorld> NewWorld(A_long width, A_long height) const;

  const Module& module_;
  Trace trace_;
  FaultPlan faults_;
  std::vector<std::string> errors_;

  CompositionModel composition_;
  EffectSettings settings_;
  PF_RationalScale downsample_x_{1, 1};
  PF_RationalScale downsample_y_{1, 1};
  BitDepth bit_depth_ = BitDepth::k8;

  // Callback tables handed to the module; they live as long as the host.
  PF_InteractCallbacks interact_{};
  PF_UtilCallbacks utils_{};
  PF_PreRenderCallbacks pre_render_callbacks_{};
  PF_SmartRenderCallbacks smart_render_callbacks_{};
  // The effect reference is the address of a byte the host owns: nothing
  // else compares equal to it.
  std::unique_ptr<char> effect_sentinel_;
  PF_ProgPtr effect_ref_ = nullptr;
  std::unique_ptr<char> comp_sentinel_;
  std::vector<std::unique_ptr<LayerSlot>> layer_slots_;

  HandleTable handles_;
  PF_Handle global_data_ = nullptr;
  std::vector<PF_Handle> pre_render_handles_;
  std::map<std::pair<std::string, A_long>, int> suite_loans_;
  ReferenceTable<AEGP_PluginID> effect_refs_;
  ReferenceTable<StreamRecord> stream_refs_;
  std::map<const AEGP_StreamValue2*, StreamValueRecord> stream_values_;
  std::map<const PF_ParamDef*, CheckedOutParam> checked_out_params_;
  std::map<A_long, std::unique_ptr<PixelWorld>> checked_out_layer_pixels_;
  std::vector<AEGP_PluginID> plugin_ids_;
  std::vector<PF_ParamDef> declared_params_;
  std::map<PF_ParamIndex, AEGP_DynStreamFlags> stream_flags_;
  std::vector<LayerRequest> layer_requests_;
  std::unique_ptr<PixelWorld> output_world_;
  bool output_checked_out_ = false;
  A_long current_time_ = 0;
  Holdings held_after_last_command_;
  // The command whose entry-point call is running, if one is.
  std::optional<PF_Cmd> running_command_;
};

}  // namespace hostsim
