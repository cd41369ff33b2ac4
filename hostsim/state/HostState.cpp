#include "HostState.h"

#include <algorithm>

#include "Downsampled.h"

namespace hostsim {

namespace {

// Plug-in ids start well away from 0 so that an id read from unwritten
// memory is recognisably not one the host gave.
constexpr AEGP_PluginID kFirstPluginId = 0x7000;

const char* CommandName(PF_Cmd cmd) {
  switch (cmd) {
    case PF_Cmd_PARAMS_SETUP: return "params setup";
    case PF_Cmd_SMART_PRE_RENDER: return "smart pre-render";
    case PF_Cmd_SMART_RENDER: return "smart render";
    default: return nullptr;
  }
}

const char* AllowedCommandName(CalledIn called_in) {
  switch (called_in) {
    case CalledIn::kParamsSetup: return CommandName(PF_Cmd_PARAMS_SETUP);
    case CalledIn::kSmartPreRender: return CommandName(PF_Cmd_SMART_PRE_RENDER);
    case CalledIn::kSmartRender: return CommandName(PF_Cmd_SMART_RENDER);
    case CalledIn::kAnyCommand: break;
  }
  return "any command";
}

double Seconds(const A_Time& time) { return time.scale == 0 ? 0.0 : static_cast<double>(time.value) / time.scale; }

}  // namespace

struct HostState::Shared {
  SceneState scene;
  EffectRecords effect;
  FaultPlan faults;
  std::vector<std::string> misuses;
  Identity identity;
  std::mutex records_lock;
};

HostState::HostState(std::shared_ptr<Shared> shared)
    : shared_(std::move(shared)),
      scene(shared_->scene),
      effect(shared_->effect),
      faults(shared_->faults),
      misuses(shared_->misuses) {}

HostState::HostState() : HostState(std::make_shared<Shared>()) {
  identity().effect_sentinel = std::make_unique<char>('e');
  identity().comp_sentinel = std::make_unique<char>('c');
  SetScene(CompositionModel{}, EffectSettings{});
}

std::unique_ptr<HostState> HostState::LaneOf(HostState& host) {
  std::unique_ptr<HostState> lane(new HostState(host.shared_));
  lane->trace.set_enabled(host.trace.enabled());
  return lane;
}

HostState::~HostState() = default;

std::mutex& HostState::records_lock() { return shared_->records_lock; }
HostState::Identity& HostState::identity() { return shared_->identity; }
const HostState::Identity& HostState::identity() const { return shared_->identity; }

void HostState::SetScene(CompositionModel composition, EffectSettings settings) {
  scene.composition = std::move(composition);
  scene.settings = std::move(settings);
  std::vector<std::unique_ptr<LayerSlot>>& slots = identity().layer_slots;
  slots.clear();
  for (std::size_t i = 0; i < scene.composition.layers.size(); ++i) {
    slots.push_back(std::make_unique<LayerSlot>(LayerSlot{i}));
  }
}

AEGP_LayerH HostState::LayerHandleById(A_long id) const {
  const std::vector<std::unique_ptr<LayerSlot>>& slots = identity().layer_slots;
  for (std::size_t i = 0; i < scene.composition.layers.size() && i < slots.size(); ++i) {
    if (scene.composition.layers[i].id == id) return reinterpret_cast<AEGP_LayerH>(slots[i].get());
  }
  return nullptr;
}

const LayerModel* HostState::FindLayer(AEGP_LayerH layer) const {
  for (const auto& slot : identity().layer_slots) {
    if (reinterpret_cast<AEGP_LayerH>(slot.get()) == layer) return &scene.composition.layers[slot->index];
  }
  return nullptr;
}

const LayerModel* HostState::FindLayerById(A_long id) const {
  for (const LayerModel& layer : scene.composition.layers) {
    if (layer.id == id) return &layer;
  }
  return nullptr;
}

AEGP_PluginID HostState::RegisterPlugin() {
  const AEGP_PluginID id = kFirstPluginId + static_cast<AEGP_PluginID>(effect.plugin_ids.size());
  effect.plugin_ids.push_back(id);
  return id;
}

bool HostState::KnowsPluginId(AEGP_PluginID id) const {
  return std::find(effect.plugin_ids.begin(), effect.plugin_ids.end(), id) != effect.plugin_ids.end();
}

void HostState::Misuse(TraceEntry& entry, std::string_view what) {
  misuses.push_back(std::string(entry.call()) + ": " + std::string(what));
  entry["error"] = std::string(what);
}

bool HostState::CheckEffectRef(PF_ProgPtr effect_ref, TraceEntry& entry) {
  if (effect_ref == this->effect_ref()) return true;
  Misuse(entry, effect_ref == nullptr ? "null effect reference" : "foreign effect reference");
  return false;
}

bool HostState::CheckCalledInCommand(const HostFunction& function, TraceEntry& entry) {
  if (function.AllowedIn(command.running)) return true;
  const char* running = command.running ? CommandName(*command.running) : "no command";
  Misuse(entry, std::string("called in ") +
                    (running != nullptr ? running : "command " + std::to_string(*command.running)) +
                    "; allowed only in " + AllowedCommandName(function.called_in));
  return false;
}

bool HostState::IsLentWorld(const PF_EffectWorld* world) const {
  auto lent = [world](const PixelWorld& candidate) {
    return world == &candidate.world() || (world->data != nullptr && world->data == candidate.world().data);
  };
  if (command.output_world && command.output_checked_out && lent(*command.output_world)) return true;
  for (const auto& [id, pixels] : command.checked_out_layer_pixels) {
    if (pixels && lent(*pixels)) return true;
  }
  for (const auto& [param, checkout] : command.checked_out_params) {
    if (checkout.frame && lent(*checkout.frame)) return true;
  }
  return false;
}

A_long HostState::layer_width() const {
  const LayerModel* layer = FindLayerById(scene.settings.on_layer);
  return layer != nullptr ? layer->width : scene.composition.width;
}

A_long HostState::layer_height() const {
  const LayerModel* layer = FindLayerById(scene.settings.on_layer);
  return layer != nullptr ? layer->height : scene.composition.height;
}

A_long HostState::input_width() const { return Downsampled(layer_width(), scene.downsample_x); }
A_long HostState::input_height() const { return Downsampled(layer_height(), scene.downsample_y); }

double HostState::CompSecondsOfLayerTime(A_long value, A_u_long scale) const {
  const LayerModel* effect_layer = FindLayerById(scene.settings.on_layer);
  const double start = effect_layer != nullptr ? Seconds(effect_layer->start) : 0.0;
  return (scale == 0 ? 0.0 : static_cast<double>(value) / scale) + start;
}

double HostState::CurrentCompSeconds() const {
  return CompSecondsOfLayerTime(command.current_time, scene.composition.time_scale);
}

bool HostState::IsPreRenderHandle(PF_Handle handle) const {
  return std::find(effect.pre_render_handles.begin(), effect.pre_render_handles.end(), handle) !=
         effect.pre_render_handles.end();
}

Holdings HostState::holdings() const {
  Holdings held;
  held.global_handles =
      effect.global_data != nullptr && effect.handles.Contains(effect.global_data) ? 1 : 0;
  for (PF_Handle handle : effect.pre_render_handles) {
    if (handle != effect.global_data && effect.handles.Contains(handle)) ++held.pre_render_handles;
  }
  held.other_handles = effect.handles.live_count() - held.global_handles - held.pre_render_handles;
  for (const auto& [suite, loans] : effect.suite_loans) {
    if (loans != 0) held.suites[suite] = loans;
  }
  held.effect_refs = effect.effect_refs.live_count();
  held.stream_refs = effect.stream_refs.live_count();
  held.stream_values = static_cast<int>(effect.stream_values.size());
  held.checked_out_params = static_cast<int>(command.checked_out_params.size());
  held.checked_out_layer_pixels = static_cast<int>(command.checked_out_layer_pixels.size());
  return held;
}

}  // namespace hostsim
