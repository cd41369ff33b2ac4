// The callbacks in PF_InData: parameter interaction and the utilities
// (string formatting and copying, the scaling copy).

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Callbacks.h"
#include "HostState.h"
#include "HostCall.h"
#include "pixels/ScalingCopy.h"

namespace hostsim {

namespace {

nlohmann::ordered_json RectJson(const PF_LRect* rect) {
  if (rect == nullptr) return nullptr;
  return nlohmann::ordered_json::array({rect->left, rect->top, rect->right, rect->bottom});
}


// ---- Interaction callbacks

PF_Err AddParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
  return HostCall<A_Err>(HostFunctionId::kAddParam, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    entry["index"] = index;
    if (def != nullptr) {
      entry["name"] = std::string(def->name, strnlen(def->name, sizeof(def->name)));
      entry["param_type"] = def->param_type;
      entry["id"] = def->uu.id;
      entry["flags"] = def->flags;
    }
    if (!host.CheckEffectRef(effect_ref, entry)) return PF_Err_BAD_CALLBACK_PARAM;
    if (def == nullptr) {
      host.Misuse(entry, "null parameter definition");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    std::vector<PF_ParamDef>& declared = host.effect.declared_params;
    if (index == -1 || index == static_cast<PF_ParamIndex>(declared.size()) + 1) {
      declared.push_back(*def);
    } else {
      return PF_Err_INVALID_INDEX;  // only appending is modelled
    }
    return PF_Err_NONE;
  });
}

PF_Err CheckoutParam(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                     A_u_long time_scale, PF_ParamDef* param) {
  return HostCall<A_Err>(HostFunctionId::kCheckoutParam, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    entry["index"] = index;
    entry["time"] = what_time;
    entry["time_step"] = time_step;
    entry["time_scale"] = time_scale;
    if (!host.CheckEffectRef(effect_ref, entry)) return PF_Err_BAD_CALLBACK_PARAM;
    if (param == nullptr) {
      host.Misuse(entry, "null parameter record");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (index < 1 || static_cast<std::size_t>(index) > host.effect.declared_params.size()) return PF_Err_INVALID_INDEX;
    if (time_scale == 0) {
      host.Misuse(entry, "time scale 0");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (host.command.checked_out_params.count(param) != 0) {
      host.Misuse(entry, "parameter record already holds a checkout");
      return PF_Err_BAD_CALLBACK_PARAM;
    }

    CheckedOutParam checkout;
    checkout.index = index;
    // The value the scene gives the parameter at the time asked, in the
    // effect layer's time at the scale the effect passed.
    const double comp_seconds = host.CompSecondsOfLayerTime(what_time, time_scale);
    host.WriteParamValue(index, comp_seconds, param);
    if (param->param_type == PF_Param_LAYER) {
      entry["layer"] = nullptr;
      entry["frame"] = nullptr;
      const A_long chosen_id =
          static_cast<A_long>(host.ControlValueAt(host.DeclaredName(index), comp_seconds).value_or(0));
      const LayerModel* chosen = chosen_id != 0 ? host.FindLayerById(chosen_id) : nullptr;
      if (chosen != nullptr) {
        entry["layer"] = chosen_id;
        A_long frame_index = 0;
        try {
          const RecordsUnlocked drawing(host);
          checkout.frame = host.RenderLayerFrame(*chosen, comp_seconds, &frame_index);
        } catch (const std::exception& failure) {
          // The host's own failure (unreadable footage, no memory) never
          // crosses into the effect: it becomes the callback's error code.
          entry["host_failure"] = failure.what();
          return HostFailureCode(failure);
        }
        if (checkout.frame) {
          entry["frame"] = frame_index;
          param->u.ld = checkout.frame->world();
          if (host.faults.Answers(HostAnswer::kZeroHeightFrameWithPixels)) param->u.ld.height = 0;
          if (host.faults.Answers(HostAnswer::kZeroWidthFrameWithPixels)) param->u.ld.width = 0;
        }
      }
    } else {
      switch (param->param_type) {
        case PF_Param_POPUP: entry["value"] = param->u.pd.value; break;
        case PF_Param_FIX_SLIDER: entry["value"] = param->u.fd.value; break;
        case PF_Param_FLOAT_SLIDER: entry["value"] = param->u.fs_d.value; break;
        default: break;
      }
    }
    host.command.checked_out_params.emplace(param, std::move(checkout));
    return PF_Err_NONE;
  });
}

PF_Err CheckinParam(PF_ProgPtr effect_ref, PF_ParamDef* param) {
  return HostCall<A_Err>(HostFunctionId::kCheckinParam, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (!host.CheckEffectRef(effect_ref, entry)) return PF_Err_BAD_CALLBACK_PARAM;
    if (param == nullptr) {
      host.Misuse(entry, "null parameter record");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    auto& checked_out = host.command.checked_out_params;
    auto found = checked_out.find(param);
    if (found == checked_out.end() && param->param_type == PF_Param_LAYER && param->u.ld.data != nullptr) {
      // A copy of the record: recognise it by the pixels it carries.
      for (auto it = checked_out.begin(); it != checked_out.end(); ++it) {
        if (it->second.frame && it->second.frame->world().data == param->u.ld.data) {
          found = it;
          break;
        }
      }
    }
    if (found == checked_out.end()) {
      host.Misuse(entry, "parameter record was not checked out");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    entry["index"] = found->second.index;
    checked_out.erase(found);
    return PF_Err_NONE;
  });
}

// ---- Utility callbacks

PF_Err Copy(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_LRect* src_r, PF_LRect* dst_r) {
  return HostCall<A_Err>(HostFunctionId::kCopy, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (entry.tracing()) entry["src_rect"] = RectJson(src_r);
    if (entry.tracing()) entry["dst_rect"] = RectJson(dst_r);
    if (entry.tracing() && src != nullptr) entry["src_size"] = nlohmann::ordered_json::array({src->width, src->height});
    if (entry.tracing() && dst != nullptr) entry["dst_size"] = nlohmann::ordered_json::array({dst->width, dst->height});
    if (!host.CheckEffectRef(effect_ref, entry)) return PF_Err_BAD_CALLBACK_PARAM;
    if (src == nullptr || dst == nullptr) {
      host.Misuse(entry, "null world");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (!host.IsLentWorld(src) || !host.IsLentWorld(dst)) {
      host.Misuse(entry, "world the host did not lend for this command");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    const RecordsUnlocked copying(host);
    return ScalingCopy(*src, *dst, src_r, dst_r);
  });
}

// Formats into an effect's message buffer; the host's buffers for these
// messages are PF_MAX_EFFECT_MSG_LEN + 1 bytes, so the text is cut there.
// Both work with no command running too, when there is no host to trace
// them, so they run outside HostCall; they can neither fail nor be refused.
A_long AnsiSprintf(A_char* buffer, const A_char* format, ...) {
  HostState* host = CurrentHost();
  std::unique_lock<std::mutex> held;
  if (host != nullptr) held = std::unique_lock<std::mutex>(host->records_lock());
  TraceEntry entry(host != nullptr && host->trace.enabled(), Describe(HostFunctionId::kSprintf).name);
  if (entry.tracing()) entry["format"] = format != nullptr ? nlohmann::ordered_json(format) : nlohmann::ordered_json();
  A_long result = 0;
  if (buffer == nullptr || format == nullptr) {
    if (host != nullptr) host->Misuse(entry, "null buffer or format");
    result = -1;
  } else {
    std::va_list args;
    va_start(args, format);
    const bool unbounded = host != nullptr && host->faults.Answers(HostAnswer::kUnboundedSprintf);
    result = unbounded ? std::vsprintf(buffer, format, args)
                       : std::vsnprintf(buffer, PF_MAX_EFFECT_MSG_LEN + 1, format, args);
    va_end(args);
    entry["text"] = buffer;
  }
  if (host != nullptr) {
    entry["result"] = result;
    host->Record(entry);
  }
  return result;
}

// Copies a parameter name; the destination is a name field of
// PF_MAX_EFFECT_PARAM_NAME_LEN + 1 bytes, so longer names are cut there.
A_char* AnsiStrcpy(A_char* dest, const A_char* src) {
  HostState* host = CurrentHost();
  std::unique_lock<std::mutex> held;
  if (host != nullptr) held = std::unique_lock<std::mutex>(host->records_lock());
  TraceEntry entry(host != nullptr && host->trace.enabled(), Describe(HostFunctionId::kStrcpy).name);
  if (dest == nullptr || src == nullptr) {
    if (host != nullptr) {
      host->Misuse(entry, "null destination or source");
      entry["result"] = nullptr;
      host->Record(entry);
    }
    return dest;
  }
  const std::size_t length = strnlen(src, PF_MAX_EFFECT_PARAM_NAME_LEN);
  std::memmove(dest, src, length);
  dest[length] = '\0';
  if (host != nullptr) {
    entry["src"] = std::string(src, length);
    entry["truncated"] = src[length] != '\0';
    entry["result"] = std::string(dest);
    host->Record(entry);
  }
  return dest;
}

}  // namespace

PF_InteractCallbacks InteractCallbacks() {
  PF_InteractCallbacks callbacks{};
  callbacks.checkout_param = CheckoutParam;
  callbacks.checkin_param = CheckinParam;
  callbacks.add_param = AddParam;
  return callbacks;
}

PF_UtilCallbacks UtilCallbacks() {
  PF_UtilCallbacks callbacks{};
  callbacks.copy = Copy;
  callbacks.ansi.sprintf = AnsiSprintf;
  callbacks.ansi.strcpy = AnsiStrcpy;
  return callbacks;
}

}  // namespace hostsim
