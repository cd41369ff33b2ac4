// What the substitute host knows while it hosts one effect instance, in one
// plain object: the modelled scene, what it keeps for the effect between
// commands, what the running command has borrowed, and its own bookkeeping
// (trace, fault plan, the misuses it noticed). The host functions the module
// calls (callbacks/, suites/) are handed this object through HostCall and
// answer from it; the Host (session/) owns it and drives the commands.
//
// Frames rendered at once: a host renders several frames of one effect
// instance together, on several threads. Each such frame runs in a lane, a
// HostState of its own that shares everything with the host's but the
// running command and the trace. What lanes share is guarded by one lock,
// `records_lock()`, which HostCall holds around every host function; the few
// functions that move pixels let it go while they do (RecordsUnlocked).
//
// Times: the scene's keyframes are in composition seconds. The module speaks
// in effect-layer time (a value over a time scale); the answers below take
// that and convert it once, in CompTimeOf.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "AE_Host.h"
#include "Composition.h"
#include "FaultPlan.h"
#include "HandleTable.h"
#include "Holdings.h"
#include "HostFunctions.h"
#include "PixelWorld.h"
#include "ReferenceTable.h"
#include "Trace.h"
#include "TraceEntry.h"

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

// The scene as the host renders it.
struct SceneState {
  CompositionModel composition;
  EffectSettings settings;
  PF_RationalScale downsample_x{1, 1};
  PF_RationalScale downsample_y{1, 1};
  BitDepth depth = BitDepth::k8;
};

struct StreamRecord {
  PF_ParamIndex index;
  const void* effect;  // the effect reference the stream was made from
};
struct StreamValueRecord {
  AEGP_StreamRefH stream;
};

// What the host keeps for the effect instance from one command to the next.
struct EffectRecords {
  std::vector<PF_ParamDef> declared_params;  // as received through add_param, index 1 first
  std::map<PF_ParamIndex, AEGP_DynStreamFlags> stream_flags;
  std::vector<AEGP_PluginID> plugin_ids;  // handed out by AEGP_RegisterWithAEGP
  PF_Handle global_data = nullptr;
  std::vector<PF_Handle> pre_render_handles;  // given to the host by pre-render, not yet freed
  HandleTable handles;
  // How many times the module holds a suite: acquired and not yet released.
  std::map<std::pair<std::string, A_long>, int> suite_loans;
  ReferenceTable<AEGP_PluginID> effect_refs;
  ReferenceTable<StreamRecord> stream_refs;
  std::map<const AEGP_StreamValue2*, StreamValueRecord> stream_values;
};

struct CheckedOutParam {
  PF_ParamIndex index = 0;
  std::unique_ptr<PixelWorld> frame;  // a layer parameter's pixels, when it has some
};

// What the running command was sent and has borrowed; the loans go back to
// the host when the command returns.
struct CommandState {
  std::optional<PF_Cmd> running;  // none between commands
  A_long current_time = 0;        // in_data->current_time of the running (or last) command
  std::map<const PF_ParamDef*, CheckedOutParam> checked_out_params;
  std::map<A_long, std::unique_ptr<PixelWorld>> checked_out_layer_pixels;
  std::unique_ptr<PixelWorld> output_world;  // of the render pass, null outside one
  bool output_checked_out = false;
  std::vector<LayerRequest> layer_requests;  // of the most recent pre-render
};

// How the records the module makes while a lane renders a frame are numbered
// in the trace: within the frame ("3.1" is the first handle frame 3 made), so
// that a trace reads the same however many frames render at once. Frame 0:
// the tables number them, 1, 2, ... (setup, setdown, a host of its own).
struct FrameNumbering {
  int frame = 0;
  int handles = 0;
  int effect_refs = 0;
  int stream_refs = 0;
};

class HostState {
  struct Shared;

 public:
  // A host of its own.
  HostState();
  // A lane of `host`'s (see above); `host` outlives it. The lane's trace is
  // enabled as the host's is.
  static std::unique_ptr<HostState> LaneOf(HostState& host);
  ~HostState();
  HostState(const HostState&) = delete;
  HostState& operator=(const HostState&) = delete;

 private:
  explicit HostState(std::shared_ptr<Shared> shared);
  std::shared_ptr<Shared> shared_;

 public:
  // Shared with every lane:
  SceneState& scene;
  EffectRecords& effect;
  FaultPlan& faults;
  // Misuse the host noticed, oldest first.
  std::vector<std::string>& misuses;
  // The lane's own:
  CommandState command;
  Trace trace;
  FrameNumbering numbering;

  // Guards what lanes share; HostCall holds it.
  std::mutex& records_lock();

  // The trace id of the next record of one kind the module makes:
  // frame-scoped in a lane rendering a frame, else left to the table.
  TraceId NextId(int FrameNumbering::*counter) {
    if (numbering.frame == 0) return TraceId{};
    return TraceId{numbering.frame, ++(numbering.*counter)};
  }

  // ---- Identity: what the host hands out that only it can recognise.

  PF_ProgPtr effect_ref() const { return reinterpret_cast<PF_ProgPtr>(identity().effect_sentinel.get()); }
  AEGP_CompH comp_handle() const { return reinterpret_cast<AEGP_CompH>(identity().comp_sentinel.get()); }
  bool IsCompHandle(AEGP_CompH comp) const { return comp == comp_handle(); }
  // Layer handles stay valid for the scene's life; SetScene makes them anew
  // (never while lanes render).
  void SetScene(CompositionModel composition, EffectSettings settings);
  AEGP_LayerH LayerHandleById(A_long id) const;
  AEGP_LayerH EffectLayerHandle() const { return LayerHandleById(scene.settings.on_layer); }
  const LayerModel* FindLayer(AEGP_LayerH layer) const;
  const LayerModel* FindLayerById(A_long id) const;
  AEGP_PluginID RegisterPlugin();
  bool KnowsPluginId(AEGP_PluginID id) const;

  // ---- Checks every host function makes; each notes a misuse in the entry
  // and in `misuses`.

  void Record(TraceEntry& entry) {
    if (std::unique_ptr<nlohmann::ordered_json> json = entry.Take()) trace.Add(std::move(*json));
  }
  void Misuse(TraceEntry& entry, std::string_view what);
  bool CheckEffectRef(PF_ProgPtr effect_ref, TraceEntry& entry);
  bool CheckCalledInCommand(const HostFunction& function, TraceEntry& entry);
  // Whether `world` is (or carries the pixels of) a world the host lent
  // for the running command.
  bool IsLentWorld(const PF_EffectWorld* world) const;

  // ---- Sizes.

  // The effect layer's full-resolution size (the composition's when the
  // scene has no such layer), and the same at the current resolution.
  A_long layer_width() const;
  A_long layer_height() const;
  A_long input_width() const;
  A_long input_height() const;

  // ---- Time.

  // Composition seconds of an effect-layer time (value over scale); the
  // effect layer's own time 0 sits at its start in the composition.
  double CompSecondsOfLayerTime(A_long value, A_u_long scale) const;
  // Seconds of the running command's current time in the composition.
  double CurrentCompSeconds() const;

  // ---- Parameters (ParamAnswers.cpp): what the host answers from the
  // definitions the module declared and the scene's values.

  // The name a declared parameter carries; empty for an index not declared.
  std::string DeclaredName(PF_ParamIndex index) const;
  // The index of the parameter declared with this name; 0 when there is none.
  PF_ParamIndex DeclaredIndex(const std::string& name) const;
  // The controls the settings give values for that the module never declared.
  std::vector<std::string> UndeclaredControls() const;
  // A control's value at a composition time: the settings' (animated) value
  // for its name, else its declared default (a popup's entry, a slider's
  // value as shown, a layer control's layer id); nullopt for a name the
  // module did not declare. Sliders move between keyframes; popups and
  // layers hold.
  std::optional<double> ControlValueAt(const std::string& name, double comp_seconds) const;
  // A parameter as the host hands it out at a composition time: its
  // declaration with the scene's value then. Index 0 is the effect's input
  // layer. False for an index the module did not declare.
  bool WriteParamValue(PF_ParamIndex index, double comp_seconds, PF_ParamDef* def) const;
  // The same as a value; a record of no type for an undeclared index.
  PF_ParamDef ParamValue(PF_ParamIndex index, double comp_seconds) const;

  // ---- Pixels (LayerFrames.cpp).

  // A fresh world for the scene's depth, transparent black.
  std::unique_ptr<PixelWorld> NewWorld(A_long width, A_long height) const;
  // The effect layer's frame at the running command's time.
  std::unique_ptr<PixelWorld> RenderInputFrame() const;
  // A layer's frame at a composition time in seconds; null when the layer
  // has no source or is not shown then. *frame_index receives the frame drawn.
  std::unique_ptr<PixelWorld> RenderLayerFrame(const LayerModel& layer, double comp_seconds,
                                               A_long* frame_index) const;

  // ---- Accounting.

  // What the module holds right now.
  Holdings holdings() const;
  bool IsPreRenderHandle(PF_Handle handle) const;

 private:
  struct LayerSlot {
    std::size_t index;  // into scene.composition.layers
  };
  // The effect reference is the address of a byte the host owns: nothing
  // else compares equal to it. The same for the composition handle and
  // each layer's handle.
  struct Identity {
    std::unique_ptr<char> effect_sentinel;
    std::unique_ptr<char> comp_sentinel;
    std::vector<std::unique_ptr<LayerSlot>> layer_slots;
  };
  Identity& identity();
  const Identity& identity() const;
};

// Lets the records lock go for the scope of a host function's pixel work,
// which touches only the lane's own command, the scene (read only while
// frames render) and the pixel sources (safe to share), and takes it back.
class RecordsUnlocked {
 public:
  explicit RecordsUnlocked(HostState& host) : lock_(host.records_lock()) { lock_.unlock(); }
  ~RecordsUnlocked() { lock_.lock(); }
  RecordsUnlocked(const RecordsUnlocked&) = delete;
  RecordsUnlocked& operator=(const RecordsUnlocked&) = delete;

 private:
  std::mutex& lock_;
};

}  // namespace hostsim
