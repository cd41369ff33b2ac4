#include "Host.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <optional>

#include "Callbacks.h"
#include "Downsampled.h"
#include "SmartRenderCallbacks.h"
#include "SuiteTables.h"

namespace hostsim {

namespace {

// Plug-in ids start well away from 0 so that an id read from unwritten
// memory is recognisably not one the host gave.
constexpr AEGP_PluginID kFirstPluginId = 0x7000;

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
  settings_ = settings;
  in_data_ready_ = false;
  layer_slots_.clear();
  for (std::size_t i = 0; i < composition_.layers.size(); ++i) {
    layer_slots_.push_back(std::make_unique<LayerSlot>(LayerSlot{i}));
  }
}

void Host::SetDownsample(PF_RationalScale x, PF_RationalScale y) {
  downsample_x_ = x;
  downsample_y_ = y;
  in_data_ready_ = false;
}

// The sizes are those of the prepared input record, so that the record and
// every other answer the host gives about the effect layer agree.
A_long Host::layer_width() const { return PreparedInData().width; }
A_long Host::layer_height() const { return PreparedInData().height; }
A_long Host::input_width() const { return PreparedInData().extent_hint.right; }
A_long Host::input_height() const { return PreparedInData().extent_hint.bottom; }

Host::Size Host::input_size() const {
  const PF_LRect& extent = PreparedInData().extent_hint;
  return {extent.right, extent.bottom};
}

const PF_InData& Host::PreparedInData() const {
  // Settings are the caller's to change at any time; the effect layer is
  // the one part of them the record depends on.
  if (!in_data_ready_ || in_data_on_layer_ != settings_.on_layer) PrepareInData();
  return in_data_template_;
}

PF_InData Host::NewInData(A_long current_time) const {
  PF_InData in_data = PreparedInData();
  in_data.current_time = current_time;
  in_data.global_data = global_data_;
  return in_data;
}

void Host::PrepareInData() const {
  PF_InData& in_data = in_data_template_;
  std::memset(&in_data, 0, sizeof(in_data));
  in_data.inter = interact_;
  in_data.utils = const_cast<PF_UtilCallbacks*>(&utils_);
  in_data.effect_ref = effect_ref_;
  in_data.version = PF_SpecVersion{13, 0};
  in_data.num_params = 6;
  in_data.time_scale = composition_.time_scale;
  in_data.time_step = composition_.frame_rate > 0
                          ? static_cast<A_long>(std::lround(composition_.time_scale / composition_.frame_rate))
                          : 1;
  in_data.local_time_step = in_data.time_step;
  in_data.field = PF_Field_FRAME;
  const LayerModel* layer = FindLayerById(settings_.on_layer);
  in_data.width = layer != nullptr ? layer->width : composition_.width;
  in_data.height = layer != nullptr ? layer->height : composition_.height;
  in_data.extent_hint =
      PF_LRect{0, 0, Downsampled(in_data.width, downsample_x_), Downsampled(in_data.height, downsample_y_)};
  in_data.downsample_x = downsample_x_;
  in_data.downsample_y = downsample_y_;
  in_data.pixel_aspect_ratio = PF_RationalScale{1, 1};
  in_data.pica_basicP = BasicSuiteTable();
  in_data_on_layer_ = settings_.on_layer;
  in_data_ready_ = true;
}

PF_Err Host::Send(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                  PF_LayerDef* output, void* extra) {
  if (in_data != nullptr) current_time_ = in_data->current_time;
  if (cmd == PF_Cmd_SMART_PRE_RENDER) layer_requests_.clear();

  PF_Err result = PF_Err_NONE;
  std::optional<std::string> escaped;  // what escaped the entry point, if anything did
  {
    CurrentHostScope current(this);
    // A real host would crash or abort here; noting it lets a test or the
    // validator name the fault instead.
    try {
      result = module_.entry_point()(cmd, in_data, out_data, params, output, extra);
    } catch (const std::exception& exception) {
      escaped = exception.what();
    } catch (...) {
      escaped = "an exception of unknown type";
    }
  }
  if (escaped) result = PF_Err_INTERNAL_STRUCT_DAMAGED;
  if (escaped || trace_.enabled()) RecordCommand(cmd, result, escaped ? escaped->c_str() : nullptr);

  // The host keeps what the effect left for it.
  if (cmd == PF_Cmd_GLOBAL_SETUP && out_data != nullptr && out_data->global_data != nullptr) {
    global_data_ = out_data->global_data;
  }
  if (cmd == PF_Cmd_GLOBAL_SETDOWN) global_data_ = nullptr;
  if (cmd == PF_Cmd_SMART_PRE_RENDER && extra != nullptr) {
    PF_Handle left = static_cast<PF_PreRenderExtra*>(extra)->output->pre_render_data;
    if (left != nullptr && handles_.Contains(left) && PreRenderHandleAt(left) == pre_render_handles_.size()) {
      pre_render_handles_.push_back(left);
    }
  }

  CountHoldings(&counts_after_last_command_);
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
  for (auto& [param, checkout] : checked_out_params_) RecycleWorld(std::move(checkout.frame));
  checked_out_params_.clear();
  for (auto& [id, pixels] : checked_out_layer_pixels_) RecycleWorld(std::move(pixels));
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
  RecycleWorld(std::move(output_world_));
  output_world_ = world_pool_.Take(width, height, bit_depth_, !skip_pixels_);
}

std::size_t Host::PreRenderHandleAt(PF_Handle handle) const {
  std::size_t at = 0;
  while (at < pre_render_handles_.size() && pre_render_handles_[at] != handle) ++at;
  return at;
}

void Host::FreePreRenderData(PF_PreRenderOutput* output) {
  if (output == nullptr || output->pre_render_data == nullptr) return;
  PF_Handle handle = output->pre_render_data;
  // Each handle is kept once, in no particular order.
  if (const std::size_t at = PreRenderHandleAt(handle); at != pre_render_handles_.size()) {
    pre_render_handles_[at] = pre_render_handles_.back();
    pre_render_handles_.pop_back();
  }
  if (output->delete_pre_render_data_func != nullptr) {
    CurrentHostScope current(this);
    output->delete_pre_render_data_func(handle);
  } else if (!handles_.Dispose(handle)) {
    TraceEntry entry = CallEntry("free pre-render data");
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

PF_ParamDef Host::ParamValue(PF_ParamIndex index) const {
  PF_ParamDef def;
  WriteParamValue(index, &def);
  return def;
}

void Host::WriteParamValue(PF_ParamIndex index, PF_ParamDef* out) const {
  PF_ParamDef& def = *out;
  if (index >= 1 && static_cast<std::size_t>(index) <= declared_params_.size()) {
    def = declared_params_[index - 1];
  } else {
    std::memset(&def, 0, sizeof(def));
    // Not declared (yet): the type the effect's saved projects give this index.
    static const PF_ParamType kTypes[] = {PF_Param_LAYER, PF_Param_POPUP, PF_Param_LAYER, PF_Param_POPUP,
                                          PF_Param_FIX_SLIDER, PF_Param_FLOAT_SLIDER};
    def.param_type = index >= 0 && index <= 5 ? kTypes[index] : static_cast<PF_ParamType>(PF_Param_NO_DATA);
    def.uu.id = index;
  }
  switch (index) {
    case 1:
      if (def.param_type == PF_Param_POPUP) def.u.pd.value = settings_.mode;
      break;
    case 3:
      if (def.param_type == PF_Param_POPUP) def.u.pd.value = settings_.time_type;
      break;
    case 4:
      if (def.param_type == PF_Param_FIX_SLIDER) {
        def.u.fd.value = static_cast<PF_Fixed>(std::lround(settings_.time_percent * 65536.0));
      }
      break;
    case 5:
      if (def.param_type == PF_Param_FLOAT_SLIDER) def.u.fs_d.value = settings_.time_sec;
      break;
    default:
      if (def.param_type == PF_Param_LAYER) std::memset(&def.u.ld, 0, sizeof(def.u.ld));
      break;
  }
}

AEGP_PluginID Host::RegisterPlugin() {
  const AEGP_PluginID id = kFirstPluginId + static_cast<AEGP_PluginID>(plugin_ids_.size());
  plugin_ids_.push_back(id);
  return id;
}

bool Host::KnowsPluginId(AEGP_PluginID id) const {
  for (AEGP_PluginID known : plugin_ids_) {
    if (known == id) return true;
  }
  return false;
}

void Host::Misuse(UntracedEntry entry, std::string_view what) {
  errors_.push_back(std::string(entry.call()) + ": " + std::string(what));
}

void Host::Misuse(TraceEntry& entry, std::string_view what) {
  Misuse(UntracedEntry(entry.call()), what);
  entry["error"] = std::string(what);
}

namespace {

const char* EffectRefMisuse(PF_ProgPtr effect_ref) {
  return effect_ref == nullptr ? "null effect reference" : "foreign effect reference";
}

}  // namespace

bool Host::RefuseEffectRef(PF_ProgPtr effect_ref, TraceEntry& entry) {
  Misuse(entry, EffectRefMisuse(effect_ref));
  return false;
}

bool Host::RefuseEffectRef(PF_ProgPtr effect_ref, UntracedEntry entry) {
  Misuse(entry, EffectRefMisuse(effect_ref));
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
  HoldingCounts counts;
  CountHoldings(&counts);
  return counts.ToHoldings();
}

void Host::CountHoldings(HoldingCounts* counts) const {
  // Counted from the few handles the host keeps, not by walking every live
  // one: this runs after every command.
  counts->global_handles = global_data_ != nullptr && handles_.Contains(global_data_) ? 1 : 0;
  counts->pre_render_handles = 0;
  for (PF_Handle handle : pre_render_handles_) {
    if (handle != global_data_ && handles_.Contains(handle)) ++counts->pre_render_handles;
  }
  counts->other_handles = handles_.live_count() - counts->global_handles - counts->pre_render_handles;
  counts->suite_loans = suite_loans_;
  counts->effect_refs = effect_refs_.live_count();
  counts->stream_refs = stream_refs_.live_count();
  counts->stream_values = static_cast<int>(stream_values_.size());
  counts->checked_out_params = static_cast<int>(checked_out_params_.size());
  counts->checked_out_layer_pixels = static_cast<int>(checked_out_layer_pixels_.size());
}

Holdings Host::HoldingCounts::ToHoldings() const {
  Holdings held;
  held.global_handles = global_handles;
  held.pre_render_handles = pre_render_handles;
  held.other_handles = other_handles;
  for (int offered = 0; offered < kOfferedSuiteCount; ++offered) {
    if (suite_loans[offered] != 0) {
      held.suites[{OfferedSuiteName(offered), OfferedSuiteVersion(offered)}] = suite_loans[offered];
    }
  }
  held.effect_refs = effect_refs;
  held.stream_refs = stream_refs;
  held.stream_values = stream_values;
  held.checked_out_params = checked_out_params;
  held.checked_out_layer_pixels = checked_out_layer_pixels;
  return held;
}

}  // namespace hostsim
