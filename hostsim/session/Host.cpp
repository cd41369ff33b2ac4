#include "Host.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>

#include "Callbacks.h"
#include "SmartRenderCallbacks.h"
#include "SuiteTables.h"

namespace hostsim {

Host::Host(const Module& module) : Host(module, std::make_unique<HostState>()) {}

Host::Host(const Module& module, std::unique_ptr<HostState> state)
    : module_(module),
      state_(std::move(state)),
      interact_(InteractCallbacks()),
      utils_(UtilCallbacks()),
      pre_render_callbacks_(PreRenderCallbacks()),
      smart_render_callbacks_(SmartRenderCallbacks()) {}

Host::~Host() = default;

std::unique_ptr<Host> Host::NewFrameLane() {
  return std::unique_ptr<Host>(new Host(module_, HostState::LaneOf(*state_)));
}

void Host::SetDownsample(PF_RationalScale x, PF_RationalScale y) {
  state_->scene.downsample_x = x;
  state_->scene.downsample_y = y;
}

A_long Host::time_step() const {
  const CompositionModel& comp = state_->scene.composition;
  if (!(comp.frame_rate > 0)) return 1;
  return std::max<A_long>(1, static_cast<A_long>(std::lround(comp.time_scale / comp.frame_rate)));
}

PF_InData Host::NewInData(A_long current_time) const {
  PF_InData in_data;
  std::memset(&in_data, 0, sizeof(in_data));
  in_data.inter = interact_;
  in_data.utils = const_cast<PF_UtilCallbacks*>(&utils_);
  in_data.effect_ref = state_->effect_ref();
  in_data.version.major = 13;
  in_data.version.minor = 0;
  in_data.num_params = 1 + static_cast<A_long>(state_->effect.declared_params.size());
  in_data.time_scale = state_->scene.composition.time_scale;
  in_data.time_step = time_step();
  in_data.local_time_step = in_data.time_step;
  in_data.field = PF_Field_FRAME;
  in_data.width = state_->layer_width();
  in_data.height = state_->layer_height();
  in_data.extent_hint.left = 0;
  in_data.extent_hint.top = 0;
  in_data.extent_hint.right = state_->input_width();
  in_data.extent_hint.bottom = state_->input_height();
  in_data.downsample_x = state_->scene.downsample_x;
  in_data.downsample_y = state_->scene.downsample_y;
  in_data.pixel_aspect_ratio.num = 1;
  in_data.pixel_aspect_ratio.den = 1;
  in_data.pica_basicP = BasicSuiteTable();
  in_data.current_time = current_time;
  in_data.global_data = state_->effect.global_data;
  return in_data;
}

PF_Err Host::Send(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                  PF_LayerDef* output, void* extra) {
  CommandState& command = state_->command;
  if (in_data != nullptr) command.current_time = in_data->current_time;
  if (cmd == PF_Cmd_SMART_PRE_RENDER) command.layer_requests.clear();

  PF_Err result = PF_Err_NONE;
  std::optional<std::string> escaped;  // what escaped the entry point, if anything did
  {
    CurrentHostScope current(state_.get());
    command.running = cmd;
    // A real host would crash or abort here; noting it lets a test or the
    // validator name the fault instead.
    try {
      result = module_.entry_point()(cmd, in_data, out_data, params, output, extra);
    } catch (const std::exception& exception) {
      escaped = exception.what();
    } catch (...) {
      escaped = "an exception of unknown type";
    }
    command.running.reset();
  }
  if (escaped) result = PF_Err_INTERNAL_STRUCT_DAMAGED;
  const std::lock_guard<std::mutex> held(state_->records_lock());
  RecordCommand(cmd, result, escaped ? escaped->c_str() : nullptr);

  // The host keeps what the effect left for it.
  EffectRecords& kept = state_->effect;
  if (cmd == PF_Cmd_GLOBAL_SETUP && out_data != nullptr && out_data->global_data != nullptr) {
    kept.global_data = out_data->global_data;
  }
  if (cmd == PF_Cmd_GLOBAL_SETDOWN) kept.global_data = nullptr;
  if (cmd == PF_Cmd_SMART_PRE_RENDER && extra != nullptr) {
    PF_Handle left = static_cast<PF_PreRenderExtra*>(extra)->output->pre_render_data;
    if (left != nullptr && kept.handles.Contains(left) && !state_->IsPreRenderHandle(left)) {
      kept.pre_render_handles.push_back(left);
    }
  }

  held_after_last_command_ = state_->holdings();
  ReclaimCommandLoans();
  return result;
}

void Host::RecordCommand(PF_Cmd cmd, PF_Err result, const char* escaped) {
  std::string error;
  if (escaped != nullptr) {
    error = std::string("exception escaped the entry point: ") + escaped;
    state_->misuses.push_back("EntryPointFunc: " + error);
  }
  if (state_->trace.enabled()) {
    nlohmann::ordered_json command{{"command", cmd}};
    if (!error.empty()) command["error"] = error;
    command["result"] = result;
    state_->trace.Add(std::move(command));
  }
}

void Host::ReclaimCommandLoans() {
  CommandState& command = state_->command;
  command.checked_out_params.clear();
  command.checked_out_layer_pixels.clear();
  command.output_checked_out = false;
}

void Host::BeginRenderPass(const PF_LRect& output_rect) {
  A_long width = output_rect.right - output_rect.left;
  A_long height = output_rect.bottom - output_rect.top;
  if (width <= 0 || height <= 0) {
    width = state_->input_width();
    height = state_->input_height();
  }
  state_->command.output_world = state_->NewWorld(width, height);
}

void Host::FreePreRenderData(PF_PreRenderOutput* output) {
  if (output == nullptr || output->pre_render_data == nullptr) return;
  PF_Handle handle = output->pre_render_data;
  std::unique_lock<std::mutex> held(state_->records_lock());
  std::vector<PF_Handle>& kept = state_->effect.pre_render_handles;
  kept.erase(std::remove(kept.begin(), kept.end(), handle), kept.end());
  if (output->delete_pre_render_data_func != nullptr) {
    held.unlock();  // the module's function calls back into the host
    CurrentHostScope current(state_.get());
    output->delete_pre_render_data_func(handle);
  } else if (!state_->effect.handles.Dispose(handle)) {
    TraceEntry entry(state_->trace.enabled(), "free pre-render data");
    state_->Misuse(entry, "pre-render data is not a live handle");
    state_->Record(entry);
  }
  output->pre_render_data = nullptr;
}

AEGP_DynStreamFlags Host::stream_flags(PF_ParamIndex index) const {
  auto found = state_->effect.stream_flags.find(index);
  return found == state_->effect.stream_flags.end() ? 0 : found->second;
}

bool Host::stream_hidden(PF_ParamIndex index) const {
  return (stream_flags(index) & AEGP_DynStreamFlag_HIDDEN) != 0;
}

}  // namespace hostsim
