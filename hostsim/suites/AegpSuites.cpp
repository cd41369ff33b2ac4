// The AEGP suites: registration, the effect's own references and parameter
// streams, and the composition answers the render pass relies on.

#include <algorithm>
#include <cmath>
#include <optional>

#include "HostState.h"
#include "HostCall.h"
#include "SuiteTables.h"

namespace hostsim {

namespace {

nlohmann::ordered_json TimeJson(const A_Time& time) { return nlohmann::ordered_json{{"value", time.value}, {"scale", time.scale}}; }

// a - b, expressed over a's scale; nullopt when that does not fit the
// host's 32-bit time value (it would wrap, and name another time).
std::optional<A_Time> Minus(const A_Time& a, const A_Time& b) {
  const double b_in_a_scale = b.scale == 0 ? 0.0 : static_cast<double>(b.value) * a.scale / b.scale;
  const double difference = static_cast<double>(a.value) - std::round(b_in_a_scale);
  if (!(difference >= -2147483648.0 && difference <= 2147483647.0)) return std::nullopt;
  return A_Time{static_cast<A_long>(difference), a.scale};
}

constexpr const char* kTimeOutOfRange = "the time does not fit the host's 32-bit time value";

// Checks a plug-in id that comes back; unknown ids are a misuse.
template <typename Entry>
bool CheckPluginId(HostState& host, AEGP_PluginID id, Entry& entry) {
  entry["plugin_id"] = id;
  if (host.KnowsPluginId(id)) return true;
  host.Misuse(entry, "unknown plug-in id");
  return false;
}

nlohmann::ordered_json LayerJson(HostState& host, AEGP_LayerH layer) {
  const LayerModel* model = host.FindLayer(layer);
  return model != nullptr ? nlohmann::ordered_json(model->id) : nlohmann::ordered_json();
}

// A reference's serial number in the trace; null for one the host does not know.
nlohmann::ordered_json IdOrNull(TraceId id) { return id.none() ? nlohmann::ordered_json() : TracedId(id); }

// ---- "AEGP Utility Suite" 7

A_Err RegisterWithAEGP(AEGP_GlobalRefcon global_refcon, const A_char* plugin_name, AEGP_PluginID* plugin_id) {
  return HostCall<A_Err>(HostFunctionId::kRegisterWithAEGP, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (entry.tracing()) entry["global_refcon"] = global_refcon == nullptr ? nlohmann::ordered_json() : nlohmann::ordered_json("non-null");
    if (entry.tracing()) entry["plugin_name"] = plugin_name != nullptr ? nlohmann::ordered_json(plugin_name) : nlohmann::ordered_json();
    if (plugin_id == nullptr) {
      host.Misuse(entry, "null plug-in id pointer");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    *plugin_id = host.RegisterPlugin();
    entry["plugin_id"] = *plugin_id;
    return PF_Err_NONE;
  });
}

// ---- "AEGP PF Interface Suite" 1

A_Err GetEffectLayer(PF_ProgPtr effect_ref, AEGP_LayerH* layer) {
  return HostCall<A_Err>(HostFunctionId::kGetEffectLayer, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (!host.CheckEffectRef(effect_ref, entry) || layer == nullptr) {
      if (layer == nullptr) host.Misuse(entry, "null output pointer");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    AEGP_LayerH found = host.EffectLayerHandle();
    if (found == nullptr) return PF_Err_INVALID_INDEX;  // the scene has no such layer
    *layer = found;
    if (entry.tracing()) entry["layer"] = LayerJson(host, found);
    return PF_Err_NONE;
  });
}

A_Err GetNewEffectForEffect(AEGP_PluginID plugin_id, PF_ProgPtr effect_ref, AEGP_EffectRefH* effect) {
  return HostCall<A_Err>(HostFunctionId::kGetNewEffectForEffect, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    const bool plugin_ok = CheckPluginId(host, plugin_id, entry);
    if (!host.CheckEffectRef(effect_ref, entry) || !plugin_ok || effect == nullptr) {
      if (effect == nullptr) host.Misuse(entry, "null output pointer");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    *effect = static_cast<AEGP_EffectRefH>(host.effect.effect_refs.Issue(plugin_id, host.NextId(&FrameNumbering::effect_refs)));
    if (entry.tracing()) entry["effect"] = TracedId(host.effect.effect_refs.Id(*effect));
    return PF_Err_NONE;
  });
}

// ---- "AEGP Effect Suite" 2

A_Err DisposeEffect(AEGP_EffectRefH effect) {
  return HostCall<A_Err>(HostFunctionId::kDisposeEffect, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (entry.tracing()) entry["effect"] = IdOrNull(host.effect.effect_refs.Id(effect));
    if (host.effect.effect_refs.Find(effect) == nullptr) {
      host.Misuse(entry, "unknown effect reference");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (host.effect.stream_refs.AnyLive([&](const StreamRecord& stream) { return stream.effect == effect; })) {
      host.Misuse(entry, "effect reference disposed while a stream made from it is live");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    host.effect.effect_refs.Dispose(effect);
    return PF_Err_NONE;
  });
}

// ---- "AEGP Stream Suite" 9

A_Err GetNewEffectStreamByIndex(AEGP_PluginID plugin_id, AEGP_EffectRefH effect, PF_ParamIndex index,
                                AEGP_StreamRefH* stream) {
  return HostCall<A_Err>(HostFunctionId::kGetNewEffectStreamByIndex, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    const bool plugin_ok = CheckPluginId(host, plugin_id, entry);
    const TraceId effect_id = host.effect.effect_refs.Id(effect);
    if (entry.tracing()) entry["effect"] = IdOrNull(effect_id);
    entry["index"] = index;
    if (effect_id.none()) host.Misuse(entry, "unknown effect reference");
    if (stream == nullptr) host.Misuse(entry, "null output pointer");
    if (!plugin_ok || effect_id.none() || stream == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    if (index < 1 || static_cast<std::size_t>(index) > host.effect.declared_params.size()) return PF_Err_INVALID_INDEX;
    *stream = static_cast<AEGP_StreamRefH>(host.effect.stream_refs.Issue(StreamRecord{index, effect}, host.NextId(&FrameNumbering::stream_refs)));
    if (entry.tracing()) entry["stream"] = TracedId(host.effect.stream_refs.Id(*stream));
    return PF_Err_NONE;
  });
}

A_Err DisposeStream(AEGP_StreamRefH stream) {
  return HostCall<A_Err>(HostFunctionId::kDisposeStream, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (entry.tracing()) entry["stream"] = IdOrNull(host.effect.stream_refs.Id(stream));
    if (host.effect.stream_refs.Find(stream) == nullptr) {
      host.Misuse(entry, "unknown stream reference");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    const auto& values = host.effect.stream_values;
    if (std::any_of(values.begin(), values.end(), [&](const auto& value) { return value.second.stream == stream; })) {
      host.Misuse(entry, "stream disposed while a value read from it is live");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    host.effect.stream_refs.Dispose(stream);
    return PF_Err_NONE;
  });
}

A_Err GetNewStreamValue(AEGP_PluginID plugin_id, AEGP_StreamRefH stream, AEGP_LTimeMode time_mode,
                        const A_Time* time, A_Boolean pre_expression, AEGP_StreamValue2* value) {
  return HostCall<A_Err>(HostFunctionId::kGetNewStreamValue, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    const bool plugin_ok = CheckPluginId(host, plugin_id, entry);
    StreamRecord* record = host.effect.stream_refs.Find(stream);
    if (entry.tracing()) entry["stream"] = IdOrNull(host.effect.stream_refs.Id(stream));
    entry["time_mode"] = time_mode;
    if (entry.tracing()) entry["time"] = time != nullptr ? TimeJson(*time) : nlohmann::ordered_json();
    entry["pre_expression"] = pre_expression;
    if (record == nullptr) host.Misuse(entry, "unknown stream reference");
    if (value == nullptr || time == nullptr) host.Misuse(entry, "null pointer argument");
    if (!plugin_ok || record == nullptr || value == nullptr || time == nullptr) {
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (time->scale == 0) {
      host.Misuse(entry, "time scale 0");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    // The value at the time asked, in the effect layer's or the composition's time.
    const double comp_seconds = time_mode == AEGP_LTimeMode_CompTime
                                    ? static_cast<double>(time->value) / time->scale
                                    : host.CompSecondsOfLayerTime(time->value, time->scale);
    value->streamH = stream;
    const PF_ParamDef def = host.ParamValue(record->index, comp_seconds);
    switch (def.param_type) {
      case PF_Param_LAYER:
        value->val.layer_id = static_cast<A_long>(
            host.ControlValueAt(host.DeclaredName(record->index), comp_seconds).value_or(0));
        entry["layer_id"] = value->val.layer_id;
        break;
      case PF_Param_POPUP:
        value->val.one_d = def.u.pd.value;
        entry["one_d"] = value->val.one_d;
        break;
      case PF_Param_FIX_SLIDER:
        value->val.one_d = def.u.fd.value / 65536.0;
        entry["one_d"] = value->val.one_d;
        break;
      default:
        value->val.one_d = def.u.fs_d.value;
        entry["one_d"] = value->val.one_d;
        break;
    }
    host.effect.stream_values[value] = StreamValueRecord{stream};
    return PF_Err_NONE;
  });
}

A_Err DisposeStreamValue(AEGP_StreamValue2* value) {
  return HostCall<A_Err>(HostFunctionId::kDisposeStreamValue, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (value == nullptr) {
      host.Misuse(entry, "null stream value");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    auto& values = host.effect.stream_values;
    auto found = values.find(value);
    if (found == values.end()) {
      // The record may have been copied since the host filled it: match by stream.
      for (auto it = values.begin(); it != values.end(); ++it) {
        if (value->streamH != nullptr && it->second.stream == value->streamH) {
          found = it;
          break;
        }
      }
    }
    if (found == values.end()) {
      if (value->streamH == nullptr) {
        // A value the host never filled holds nothing; disposing of it is harmless.
        entry["empty"] = true;
        return PF_Err_NONE;
      }
      host.Misuse(entry, "unknown stream value");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (entry.tracing()) entry["stream"] = IdOrNull(host.effect.stream_refs.Id(found->second.stream));
    values.erase(found);
    return PF_Err_NONE;
  });
}

// ---- "AEGP Dynamic Stream Suite" 5

A_Err SetDynamicStreamFlag(AEGP_StreamRefH stream, AEGP_DynStreamFlags one_flag, A_Boolean undoable,
                           A_Boolean set) {
  return HostCall<A_Err>(HostFunctionId::kSetDynamicStreamFlag, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    StreamRecord* record = host.effect.stream_refs.Find(stream);
    if (entry.tracing()) entry["stream"] = IdOrNull(host.effect.stream_refs.Id(stream));
    if (entry.tracing()) entry["index"] = record != nullptr ? nlohmann::ordered_json(record->index) : nlohmann::ordered_json();
    entry["flag"] = one_flag;
    entry["undoable"] = undoable;
    entry["set"] = set;
    if (record == nullptr) {
      host.Misuse(entry, "unknown stream reference");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    AEGP_DynStreamFlags& flags = host.effect.stream_flags[record->index];
    flags = set ? (flags | one_flag) : (flags & ~one_flag);
    return PF_Err_NONE;
  });
}

// ---- "AEGP Comp Suite" 15

A_Err GetCompFramerate(AEGP_CompH comp, A_FpLong* fps) {
  return HostCall<A_Err>(HostFunctionId::kGetCompFramerate, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (!host.IsCompHandle(comp)) host.Misuse(entry, "unknown composition handle");
    if (fps == nullptr) host.Misuse(entry, "null output pointer");
    if (!host.IsCompHandle(comp) || fps == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *fps = host.scene.composition.frame_rate;
    entry["fps"] = *fps;
    return PF_Err_NONE;
  });
}

// ---- "AEGP Layer Suite" 13

// Common checks of a layer handle and an output pointer.
template <typename Entry>
const LayerModel* CheckLayer(HostState& host, AEGP_LayerH layer, const void* out, Entry& entry) {
  const LayerModel* model = host.FindLayer(layer);
  if (entry.tracing()) entry["layer"] = LayerJson(host, layer);
  if (model == nullptr) host.Misuse(entry, "unknown layer handle");
  if (out == nullptr) host.Misuse(entry, "null output pointer");
  return out == nullptr ? nullptr : model;
}

A_Err GetLayerParentComp(AEGP_LayerH layer, AEGP_CompH* comp) {
  return HostCall<A_Err>(HostFunctionId::kGetLayerParentComp, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (CheckLayer(host, layer, comp, entry) == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *comp = host.comp_handle();
    return PF_Err_NONE;
  });
}

A_Err GetLayerInPoint(AEGP_LayerH layer, AEGP_LTimeMode time_mode, A_Time* in_point) {
  return HostCall<A_Err>(HostFunctionId::kGetLayerInPoint, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    entry["time_mode"] = time_mode;
    const LayerModel* model = CheckLayer(host, layer, in_point, entry);
    if (model == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    const std::optional<A_Time> answer =
        time_mode == AEGP_LTimeMode_CompTime ? model->in_point : Minus(model->in_point, model->start);
    if (!answer) {
      entry["host_failure"] = kTimeOutOfRange;
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    *in_point = *answer;
    if (entry.tracing()) entry["in_point"] = TimeJson(*in_point);
    return PF_Err_NONE;
  });
}

A_Err GetLayerDuration(AEGP_LayerH layer, AEGP_LTimeMode time_mode, A_Time* duration) {
  return HostCall<A_Err>(HostFunctionId::kGetLayerDuration, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    entry["time_mode"] = time_mode;
    const LayerModel* model = CheckLayer(host, layer, duration, entry);
    if (model == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    // Layers are not time-stretched, so a duration is the same in both time modes.
    *duration = model->duration;
    if (entry.tracing()) entry["duration"] = TimeJson(*duration);
    return PF_Err_NONE;
  });
}

A_Err ConvertCompToLayerTime(AEGP_LayerH layer, const A_Time* comp_time, A_Time* layer_time) {
  return HostCall<A_Err>(HostFunctionId::kConvertCompToLayerTime, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (entry.tracing()) entry["comp_time"] = comp_time != nullptr ? TimeJson(*comp_time) : nlohmann::ordered_json();
    const LayerModel* model = CheckLayer(host, layer, layer_time, entry);
    if (comp_time == nullptr) host.Misuse(entry, "null composition time");
    if (model == nullptr || comp_time == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    if (comp_time->scale == 0) {
      host.Misuse(entry, "time scale 0");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    const std::optional<A_Time> answer = Minus(*comp_time, model->start);
    if (!answer) {
      // A real host cannot express this time either; the frame fails with a
      // reason instead of showing whatever a wrapped time would name.
      entry["host_failure"] = kTimeOutOfRange;
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    *layer_time = *answer;
    if (entry.tracing()) entry["layer_time"] = TimeJson(*layer_time);
    return PF_Err_NONE;
  });
}

A_Err GetLayerFromLayerID(AEGP_CompH comp, AEGP_LayerIDVal id, AEGP_LayerH* layer) {
  return HostCall<A_Err>(HostFunctionId::kGetLayerFromLayerID, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    entry["id"] = id;
    if (!host.IsCompHandle(comp)) host.Misuse(entry, "unknown composition handle");
    if (layer == nullptr) host.Misuse(entry, "null output pointer");
    if (!host.IsCompHandle(comp) || layer == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    AEGP_LayerH found = host.LayerHandleById(id);
    if (found == nullptr) return PF_Err_INVALID_INDEX;  // no layer with that id
    *layer = found;
    return PF_Err_NONE;
  });
}

template <typename Table>
Table MakeTable() {
  Table table;
  FillUnusedSlots(reinterpret_cast<void**>(&table), static_cast<int>(sizeof(Table) / sizeof(void*)));
  return table;
}

}  // namespace

const AEGP_UtilitySuite7* UtilitySuiteTable() {
  static const AEGP_UtilitySuite7 table = [] {
    auto t = MakeTable<AEGP_UtilitySuite7>();
    t.AEGP_RegisterWithAEGP = RegisterWithAEGP;
    return t;
  }();
  return &table;
}

const AEGP_PFInterfaceSuite1* PFInterfaceSuiteTable() {
  static const AEGP_PFInterfaceSuite1 table = [] {
    auto t = MakeTable<AEGP_PFInterfaceSuite1>();
    t.AEGP_GetEffectLayer = GetEffectLayer;
    t.AEGP_GetNewEffectForEffect = GetNewEffectForEffect;
    return t;
  }();
  return &table;
}

const AEGP_EffectSuite2* EffectSuiteTable() {
  static const AEGP_EffectSuite2 table = [] {
    auto t = MakeTable<AEGP_EffectSuite2>();
    t.AEGP_DisposeEffect = DisposeEffect;
    return t;
  }();
  return &table;
}

const AEGP_StreamSuite9* StreamSuiteTable() {
  static const AEGP_StreamSuite9 table = [] {
    auto t = MakeTable<AEGP_StreamSuite9>();
    t.AEGP_GetNewEffectStreamByIndex = GetNewEffectStreamByIndex;
    t.AEGP_DisposeStream = DisposeStream;
    t.AEGP_GetNewStreamValue = GetNewStreamValue;
    t.AEGP_DisposeStreamValue = DisposeStreamValue;
    return t;
  }();
  return &table;
}

const AEGP_DynamicStreamSuite5* DynamicStreamSuiteTable() {
  static const AEGP_DynamicStreamSuite5 table = [] {
    auto t = MakeTable<AEGP_DynamicStreamSuite5>();
    t.AEGP_SetDynamicStreamFlag = SetDynamicStreamFlag;
    return t;
  }();
  return &table;
}

const AEGP_CompSuite15* CompSuiteTable() {
  static const AEGP_CompSuite15 table = [] {
    auto t = MakeTable<AEGP_CompSuite15>();
    t.AEGP_GetCompFramerate = GetCompFramerate;
    return t;
  }();
  return &table;
}

const AEGP_LayerSuite13* LayerSuiteTable() {
  static const AEGP_LayerSuite13 table = [] {
    auto t = MakeTable<AEGP_LayerSuite13>();
    t.AEGP_GetLayerParentComp = GetLayerParentComp;
    t.AEGP_GetLayerInPoint = GetLayerInPoint;
    t.AEGP_GetLayerDuration = GetLayerDuration;
    t.AEGP_ConvertCompToLayerTime = ConvertCompToLayerTime;
    t.AEGP_GetLayerFromLayerID = GetLayerFromLayerID;
    return t;
  }();
  return &table;
}

}  // namespace hostsim
