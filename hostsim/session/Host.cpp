#include "Host.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <optional>

#include "Callbacks.h"
#include "Downsampled.h"
#include "SmartRenderCallbacks.h"
#include "SuiteTables.h"
#include "pixels/WorldPool.h"

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

}  // namespace

Host::Host(const Module& module)
    : module_(module),
      interact_(InteractCallbacks()),
      utils_(UtilCallbacks()),
      pre_render_callbacks_(PreRenderCallbacks()),
      smart_render_callbacks_(SmartRenderCallbacks()),
      effect_sentinel_(std::make_unique<char>('e')),
      effect_ref_(reinterpret_cast<PF_ProgPtr>(effect_sentinel_.get())),
      comp_sentinel_(std::make_unique<char>('c')) {
  SetScene(CompositionModel{}, EffectSettings{});
}

Host::~Host() = default;

void Host::SetScene(CompositionModel composition, EffectSettings settings) {
  composition_ = std::move(composition);
  settings_ = std::move(settings);
  layer_slots_.clear();
  for (std::size_t i = 0; i < composition_.layers.size(); ++i) {
    layer_slots_.push_back(std::make_unique<LayerSlot>(LayerSlot{i}));
  }
}

void Host::SetDownsample(PF_RationalScale x, PF_RationalScale y) {
  downsample_x_ = x;
  downsample_y_ = y;
}

A_long Host::layer_width() const {
  const LayerModel* layer = FindLayerById(settings_.on_layer);
  return layer != nullptr ? layer->width : composition_.width;
}

A_long Host::layer_height() const {
  const LayerModel* layer = FindLayerById(settings_.on_layer);
  return layer != nullptr ? layer->height : composition_.height;
}

A_long Host::input_width() const { return Downsampled(layer_width(), downsample_x_); }
A_long Host::input_height() const { return Downsampled(layer_height(), downsample_y_); }
Host::Size Host::input_size() const { return {input_width(), input_height()}; }

PF_InData Host::NewInData(A_long current_time) const {
  PF_InData in_data;
  std::memset(&in_data, 0, sizeof(in_data));
  in_data.inter = interact_;
  in_data.utils = const_cast<PF_UtilCallbacks*>(&utils_);
  in_data.effect_ref = effect_ref_;
  in_data.version = PF_SpecVersion{13, 0};
  in_data.num_params = 1 + static_cast<A_long>(declared_params_.size());
  in_data.time_scale = composition_.time_scale;
  in_data.time_step = composition_.frame_rate > 0
                          ? static_cast<A_long>(std::lround(composition_.time_scale / composition_.frame_rate))
                          : 1;
  in_data.local_time_step = in_data.time_step;
  in_data.field = PF_Field_FRAME;
  in_data.width = layer_width();
  in_data.height = layer_height();
  in_data.extent_hint = PF_LRect{0, 0, input_width(), input_height()};
  in_data.downsample_x = downsample_x_;
  in_data.downsample_y = downsample_y_;
  in_data.pixel_aspect_ratio = PF_RationalScale{1, 1};
  in_data.pica_basicP = BasicSuiteTable();
  in_data.current_time = current_time;
  in_data.global_data = global_data_;
  return in_data;
}

PF_Err Host::Send(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                  PF_LayerDef* output, void* extra) {
  if (in_data != nullptr) current_time_ = in_data->current_time;
  if (cmd == PF_Cmd_SMART_PRE_RENDER) layer_requests_.clear();

  PF_Err result = PF_Err_NONE;
  std::optional<std::string> escaped;  // what escaped the entry point, if anything did
  {
    CurrentHostScope current(this);
    running_command_ = cmd;
    // A real host would crash or abort here; noting it lets a test or the
    // validator name the fault instead.
    try {
      result = module_.entry_point()(cmd, in_data, out_data, params, output, extra);
    } catch (const std::exception& exception) {
      escaped = exception.what();
    } catch (...) {
      escaped = "an exception of unknown type";
    }
    running_command_.reset();
  }
  if (escaped) result = PF_Err_INTERNAL_STRUCT_DAMAGED;
  RecordCommand(cmd, result, escaped ? escaped->c_str() : nullptr);

  // The host keeps what the effect left for it.
  if (cmd == PF_Cmd_GLOBAL_SETUP && out_data != nullptr && out_data->global_data != nullptr) {
    global_data_ = out_data->global_data;
  }
  if (cmd == PF_Cmd_GLOBAL_SETDOWN) global_data_ = nullptr;
  if (cmd == PF_Cmd_SMART_PRE_RENDER && extra != nullptr) {
    PF_Handle left = static_cast<PF_PreRenderExtra*>(extra)->output->pre_render_data;
    if (left != nullptr && handles_.Contains(left) && !IsPreRenderHandle(left)) pre_render_handles_.push_back(left);
  }

  held_after_last_command_ = holdings();
  ReclaimCommandLoans();
  return result;
}

void Host::RecordCommand(PF_Cmd cmd, PF_Err result, const char* escaped) {
  std::string error;
  if (escaped != nullptr) {
    error = std::string("exception escaped the entry point: ") + escaped;
    errors_.push_back("EntryPointFunc: " + error);
  }
  if (trace_.enabled()) {
    nlohmann::ordered_json command{{"command", cmd}};
    if (!error.empty()) command["error"] = error;
    command["result"] = result;
    trace_.Add(std::move(command));
  }
}

void Host::ReclaimCommandLoans() {
  checked_out_params_.clear();
  checked_out_layer_pixels_.clear();
  output_checked_out_ = false;
}

void Host::BeginRenderPass(const PF_LRect& output_rect) {
  A_long width = output_rect.right - output_rect.left;
  A_long height = output_rect.bottom - output_rect.top;
  if (width <= 0 || height <= 0) {
    const Size input = input_size();
    width = input.width;
    height = input.height;
  }
  output_world_ = NewWorld(width, height);
}

std::unique_ptr<PixelWorld> Host::NewWorld(A_long width, A_long height) const {
  return WorldPool::Shared().Take(width, height, bit_depth_, WorldPool::Contents::kZeroed);
}

bool Host::IsPreRenderHandle(PF_Handle handle) const {
  return std::find(pre_render_handles_.begin(), pre_render_handles_.end(), handle) != pre_render_handles_.end();
}

void Host::FreePreRenderData(PF_PreRenderOutput* output) {
  if (output == nullptr || output->pre_render_data == nullptr) return;
  PF_Handle handle = output->pre_render_data;
  pre_render_handles_.erase(std::remove(pre_render_handles_.begin(), pre_render_handles_.end(), handle),
                            pre_render_handles_.end());
  if (output->delete_pre_render_data_func != nullptr) {
    CurrentHostScope current(this);
    output->delete_pre_render_data_func(handle);
  } else if (!handles_.Dispose(handle)) {
    TraceEntry entry(trace_.enabled(), "free pre-render data");
    Misuse(entry, "pre-render data is not a live handle");
    Record(entry);
  }
  output->pre_render_data = nullptr;
}

AEGP_DynStreamFlags Host::stream_flags(PF_ParamIndex index) const {
  auto found = stream_flags_.find(index);
  return found == stream_flags_.end() ? 0 : found->second;
}

bool Host::stream_hidden(PF_ParamIndex index) const {
  return (stream_flags(index) & AEGP_DynStreamFlag_HIDDEN) != 0;
}

AEGP_PluginID Host::RegisterPlugin() {
  const AEGP_PluginID id = kFirstPluginId + static_cast<AEGP_PluginID>(plugin_ids_.size());
  plugin_ids_.push_back(id);
  return id;
}

bool Host::KnowsPluginId(AEGP_PluginID id) const {
  return std::find(plugin_ids_.begin(), plugin_ids_.end(), id) != plugin_ids_.end();
}

void Host::Misuse(TraceEntry& entry, std::string_view what) {
  errors_.push_back(std::string(entry.call()) + ": " + std::string(what));
  entry["error"] = std::string(what);
}

bool Host::CheckEffectRef(PF_ProgPtr effect_ref, TraceEntry& entry) {
  if (effect_ref == effect_ref_) return true;
  Misuse(entry, effect_ref == nullptr ? "null effect reference" : "foreign effect reference");
  return false;
}

bool Host::CheckCalledInCommand(const HostFunction& function, TraceEntry& entry) {
  if (function.AllowedIn(running_command_)) return true;
  const char* running = running_command_ ? CommandName(*running_command_) : "no command";
  Misuse(entry, std::string("called in ") +
                    (running != nullptr ? running : "command " + std::to_string(*running_command_)) +
                    "; allowed only in " + AllowedCommandName(function.called_in));
  return false;
}

AEGP_LayerH Host::LayerHandle(std::size_t index) const {
  return index < layer_slots_.size() ? reinterpret_cast<AEGP_LayerH>(layer_slots_[index].get()) : nullptr;
}

AEGP_LayerH Host::LayerHandleById(A_long id) const {
  for (std::size_t i = 0; i < composition_.layers.size(); ++i) {
    if (composition_.layers[i].id == id) return LayerHandle(i);
  }
  return nullptr;
}

AEGP_LayerH Host::EffectLayerHandle() const { return LayerHandleById(settings_.on_layer); }

const LayerModel* Host::FindLayer(AEGP_LayerH layer) const {
  for (const auto& slot : layer_slots_) {
    if (reinterpret_cast<AEGP_LayerH>(slot.get()) == layer) return &composition_.layers[slot->index];
  }
  return nullptr;
}

const LayerModel* Host::FindLayerById(A_long id) const {
  for (const LayerModel& layer : composition_.layers) {
    if (layer.id == id) return &layer;
  }
  return nullptr;
}

Holdings Host::holdings() const {
  Holdings held;
  held.global_handles = global_data_ != nullptr && handles_.Contains(global_data_) ? 1 : 0;
  for (PF_Handle handle : pre_render_handles_) {
    if (handle != global_data_ && handles_.Contains(handle)) ++held.pre_render_handles;
  }
  held.other_handles = handles_.live_count() - held.global_handles - held.pre_render_handles;
  for (const auto& [suite, loans] : suite_loans_) {
    if (loans != 0) held.suites[suite] = loans;
  }
  held.effect_refs = effect_refs_.live_count();
  held.stream_refs = stream_refs_.live_count();
  held.stream_values = static_cast<int>(stream_values_.size());
  held.checked_out_params = static_cast<int>(checked_out_params_.size());
  held.checked_out_layer_pixels = static_cast<int>(checked_out_layer_pixels_.size());
  return held;
}

}  // namespace hostsim
