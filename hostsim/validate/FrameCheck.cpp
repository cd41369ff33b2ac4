#include "FrameCheck.h"

#include <cstring>
#include <sstream>
#include <utility>

#include "CheckContext.h"
#include "JsonText.h"
#include "PlacementProperties.h"
#include "RequestRules.h"
#include "SourceTimeRule.h"

namespace hostsim::validate {

namespace {

using Json = nlohmann::ordered_json;
using F = HostFunctionId;

// The call entries traced since entry `from`.
std::vector<Json> CallsSince(const Host& host, std::size_t from) {
  std::vector<Json> calls;
  const auto& entries = host.trace().entries();
  for (std::size_t i = from; i < entries.size(); ++i) {
    if (entries[i].contains("call")) calls.push_back(entries[i]);
  }
  return calls;
}

bool RectFromJson(const Json& value, PF_LRect* rect) {
  if (!value.is_array() || value.size() != 4) return false;
  *rect = PF_LRect{value[0].get<A_long>(), value[1].get<A_long>(), value[2].get<A_long>(), value[3].get<A_long>()};
  return true;
}

bool SameRect(const PF_LRect& a, const PF_LRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Code(PF_Err err) { return std::to_string(static_cast<long long>(err)); }

const LayerModel* FindLayer(const CompositionModel& comp, A_long id) {
  for (const LayerModel& layer : comp.layers) {
    if (layer.id == id) return &layer;
  }
  return nullptr;
}

void CheckPreRender(Session& session, A_long current_time, const std::vector<Json>& calls,
                    const PF_PreRenderOutput& output, const std::string& label, std::vector<std::string>& failures) {
  Host& host = session.host();
  const std::string where = label + ", SmartPreRender: ";

  // The four values the render pass needs, read at the current time.
  std::vector<A_long> read;
  for (const Json& call : calls) {
    if (call["call"] != TraceName(F::kCheckoutParam) || call["result"] != 0) continue;
    read.push_back(call["index"].get<A_long>());
    if (call["time"].get<A_long>() != current_time || call["time_scale"].get<A_u_long>() != host.composition().time_scale) {
      failures.push_back(where + "parameter " + std::to_string(call["index"].get<A_long>()) + " read at " +
                         JsonText(call["time"]) + "/" + JsonText(call["time_scale"]) + " instead of the current time " +
                         std::to_string(current_time) + "/" + std::to_string(host.composition().time_scale));
    }
    if (call["time_step"].get<A_long>() != host.time_step()) {
      failures.push_back(where + "parameter " + std::to_string(call["index"].get<A_long>()) + " read with the time step " +
                         JsonText(call["time_step"]) + " instead of the host's " + std::to_string(host.time_step()));
    }
  }
  const std::vector<A_long> needed = {host.DeclaredIndex(controls::kMode), host.DeclaredIndex(controls::kTimeType),
                                      host.DeclaredIndex(controls::kTimePercent),
                                      host.DeclaredIndex(controls::kTimeSec)};
  if (read != needed) {
    const auto list = [](const std::vector<A_long>& indices) {
      std::string text;
      for (A_long index : indices) text += (text.empty() ? "" : ", ") + std::to_string(index);
      return "[" + text + "]";
    };
    failures.push_back(where + "read parameters " + list(read) + " instead of " + list(needed) + " (" +
                       controls::kMode + ", " + controls::kTimeType + ", " + controls::kTimePercent + ", " +
                       controls::kTimeSec + ")");
  }

  std::vector<Json> layer_calls;
  for (const Json& call : calls) {
    if (call["call"] == TraceName(F::kCheckoutLayer)) layer_calls.push_back(call);
  }
  if (layer_calls.size() != 1) {
    failures.push_back(where + "declared the input " + std::to_string(layer_calls.size()) + " times instead of once");
    return;
  }
  const Json& layer = layer_calls.front();
  const PF_LRect expected_rect{0, 0, RequestedSide(host.layer_width(), host.downsample_x()),
                               RequestedSide(host.layer_height(), host.downsample_y())};
  PF_LRect asked{};
  if (layer["index"] != 0 || layer["checkout_id"] != 0) {
    failures.push_back(where + "declared parameter " + JsonText(layer["index"]) + " under checkout id " +
                       JsonText(layer["checkout_id"]) + " instead of the input (0) under id 0");
  }
  if (!RectFromJson(layer["rect"], &asked) || !SameRect(asked, expected_rect)) {
    std::ostringstream why;
    why << where << "asked for the input rectangle " << JsonText(layer["rect"]) << " instead of "
        << RectText(expected_rect) << " (layer " << host.layer_width() << " x " << host.layer_height()
        << " at " << host.downsample_x().num << "/" << host.downsample_x().den << " x "
        << host.downsample_y().num << "/" << host.downsample_y().den << ")";
    failures.push_back(why.str());
  }
  if (layer["preserve_rgb_of_zero_alpha"] != 1) {
    failures.push_back(where + "did not ask to keep the colour of zero-alpha pixels");
  }
  const PF_RenderRequest request = session.output_request();
  if (layer.value("field", -1) != request.field || layer.value("channel_mask", -1) != request.channel_mask) {
    failures.push_back(where + "changed the field or channel mask of the host's request");
  }
  if (layer["time"].get<A_long>() != current_time || layer["time_step"].get<A_long>() != host.time_step() ||
      layer["time_scale"].get<A_u_long>() != host.composition().time_scale) {
    failures.push_back(where + "declared the input at " + JsonText(layer["time"]) + " (step " + JsonText(layer["time_step"]) +
                       ", scale " + JsonText(layer["time_scale"]) + ") instead of " + std::to_string(current_time) +
                       " (step " + std::to_string(host.time_step()) + ", scale " +
                       std::to_string(host.composition().time_scale) + ")");
  }
  if (layer["result"] != 0) return;

  PF_LRect input_result{};
  RectFromJson(layer["result_rect"], &input_result);
  PF_LRect expected_result{0, 0, 0, 0};  // the host's output rectangles start empty
  UnionInto(input_result, &expected_result);
  if (!SameRect(output.result_rect, expected_result)) {
    failures.push_back(where + "reported the result rectangle " + RectText(output.result_rect) + " instead of " +
                       RectText(expected_result));
  }
  if (!SameRect(output.max_result_rect, expected_result)) {
    failures.push_back(where + "reported the maximum result rectangle " + RectText(output.max_result_rect) +
                       " instead of " + RectText(expected_result));
  }
  if ((output.flags & PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS) == 0) {
    failures.push_back(where + "did not declare that it may return extra pixels");
  }
  if (output.pre_render_data == nullptr) failures.push_back(where + "left no pre-render data");
}

void CheckRender(Session& session, A_long current_time, const std::vector<Json>& calls, const std::string& label,
                 std::vector<std::string>& failures, FrameRun& run) {
  Host& host = session.host();
  const std::string where = label + ", SmartRender: ";
  const CompositionModel& comp = host.composition();
  // Every control as the scene gives it at the frame's own time.
  const double now = host.state().CompSecondsOfLayerTime(current_time, comp.time_scale);
  const A_long chosen_id = static_cast<A_long>(host.ControlValue(controls::kLayer, now).value_or(0));
  const A_long mode = static_cast<A_long>(host.ControlValue(controls::kMode, now).value_or(0));
  const A_long time_type = static_cast<A_long>(host.ControlValue(controls::kTimeType, now).value_or(0));
  const A_long layer_index = host.DeclaredIndex(controls::kLayer);

  std::vector<Json> copies;
  const Json* conversion = nullptr;
  const Json* layer_checkout = nullptr;
  for (const Json& call : calls) {
    if (call["call"] == TraceName(F::kCopy)) copies.push_back(call);
    if (call["call"] == TraceName(F::kConvertCompToLayerTime) && conversion == nullptr) conversion = &call;
    if (call["call"] == TraceName(F::kCheckoutParam) && call["index"] == layer_index && layer_checkout == nullptr) layer_checkout = &call;
  }
  run.copies = static_cast<int>(copies.size());
  if (run.render != PF_Err_NONE) return;
  if (copies.size() != 1) {
    failures.push_back(where + "copied " + std::to_string(copies.size()) + " times instead of once");
    return;
  }
  const Json& copy = copies.front();
  const LayerModel* chosen = chosen_id != 0 ? FindLayer(comp, chosen_id) : nullptr;

  if (chosen == nullptr) {
    if (!copy["src_rect"].is_null() || !copy["dst_rect"].is_null()) {
      failures.push_back(where + "with no layer chosen, copied " + JsonText(copy["src_rect"]) + " to " +
                         JsonText(copy["dst_rect"]) + " instead of the whole input to the whole output");
    }
    return;
  }

  // The source time, from the chosen layer's in-point and duration.
  SourceTimeInputs inputs;
  inputs.in_point = chosen->in_point;
  inputs.duration = chosen->duration;
  inputs.frame_rate = comp.frame_rate;
  inputs.time_type = time_type;
  // What the host hands the effect: the percentage as 16.16, the seconds as they are.
  inputs.percent_fixed = host.ParamValue(host.DeclaredIndex(controls::kTimePercent), now).u.fd.value;
  inputs.seconds = host.ParamValue(host.DeclaredIndex(controls::kTimeSec), now).u.fs_d.value;
  inputs.time_scale = comp.time_scale;
  if (conversion == nullptr) {
    failures.push_back(where + "never converted the source time to the effect layer's time");
    return;
  }
  const Json& comp_time = (*conversion)["comp_time"];
  if (comp_time.is_null()) {
    failures.push_back(where + "converted no composition time");
  } else {
    run.source_time = A_Time{comp_time["value"].get<A_long>(), comp_time["scale"].get<A_u_long>()};
    const std::string fault = SourceTimeFault(inputs, run.source_time);
    if (!fault.empty()) failures.push_back(where + fault);
  }
  if (layer_checkout == nullptr) {
    failures.push_back(where + "never checked out the chosen layer");
    return;
  }
  if ((*conversion)["result"] == 0) {
    const A_long layer_time = (*conversion)["layer_time"]["value"].get<A_long>();
    if ((*layer_checkout)["time"].get<A_long>() != layer_time ||
        (*layer_checkout)["time_scale"].get<A_u_long>() != comp.time_scale ||
        (*layer_checkout)["time_step"].get<A_long>() != host.time_step()) {
      failures.push_back(where + "checked out the chosen layer at " + JsonText((*layer_checkout)["time"]) + "/" +
                         JsonText((*layer_checkout)["time_scale"]) + " (step " + JsonText((*layer_checkout)["time_step"]) +
                         ") instead of the converted time " + std::to_string(layer_time) + "/" +
                         std::to_string(comp.time_scale) + " (step " + std::to_string(host.time_step()) + ")");
    }
  }

  const A_long expected_lw = RequestedSide(chosen->width, host.downsample_x());
  const A_long expected_lh = RequestedSide(chosen->height, host.downsample_y());
  if ((*layer_checkout)["frame"].is_null() || expected_lw <= 0 || expected_lh <= 0) {
    if (!copy["src_rect"].is_null() || !copy["dst_rect"].is_null()) {
      failures.push_back(where + "with no pixels of the chosen layer at that time, copied " + JsonText(copy["src_rect"]) +
                         " to " + JsonText(copy["dst_rect"]) + " instead of passing the input through");
    }
    return;
  }
  if (!copy.contains("src_size") || !copy.contains("dst_size")) {
    failures.push_back(where + "copied with a null world");
    return;
  }
  const A_long lw = copy["src_size"][0].get<A_long>();
  const A_long lh = copy["src_size"][1].get<A_long>();
  const A_long ow = copy["dst_size"][0].get<A_long>();
  const A_long oh = copy["dst_size"][1].get<A_long>();
  if (lw != expected_lw || lh != expected_lh) {
    failures.push_back(where + "copied from a " + std::to_string(lw) + " x " + std::to_string(lh) +
                       " world instead of the chosen layer's " + std::to_string(expected_lw) + " x " +
                       std::to_string(expected_lh) + " frame");
    return;
  }
  run.placed = true;
  const bool rects_given = RectFromJson(copy["src_rect"], &run.src) && RectFromJson(copy["dst_rect"], &run.dst);
  if (!rects_given) {
    failures.push_back(where + "Mode " + std::to_string(mode) + " copied " + JsonText(copy["src_rect"]) + " to " +
                       JsonText(copy["dst_rect"]) + " instead of naming both rectangles");
    return;
  }
  for (const std::string& fault : PlacementFaults(PlacementCase{mode, lw, lh, ow, oh}, run.src, run.dst)) {
    std::ostringstream why;
    why << where << "Mode " << mode << " with a " << lw << " x " << lh << " frame on a " << ow << " x " << oh
        << " output: " << fault;
    failures.push_back(why.str());
  }
}

}  // namespace

PreRenderedFrame PreRenderAndCheckFrame(Session& session, A_long current_time, const std::string& label,
                                        std::vector<std::string>& failures, const FrameExpectation& expected) {
  Host& host = session.host();
  PreRenderedFrame frame;
  frame.current_time = current_time;
  frame.label = label;
  frame.expected = expected;
  std::memset(&frame.output, 0, sizeof(frame.output));

  const std::size_t mark = host.trace().entries().size();
  frame.run.pre_render = session.SmartPreRender(current_time, &frame.output);
  const std::vector<Json> pre_calls = CallsSince(host, mark);
  if (frame.run.pre_render != expected.pre_render) {
    failures.push_back(label + ", SmartPreRender returned " + Code(frame.run.pre_render) + " instead of " +
                       Code(expected.pre_render));
  }
  ExpectCleanCommand(host, label + ", SmartPreRender", failures);
  if (frame.run.pre_render == PF_Err_NONE) {
    CheckPreRender(session, current_time, pre_calls, frame.output, label, failures);
  }
  return frame;
}

FrameRun RenderAndCheckPreRendered(Session& session, PreRenderedFrame& frame, std::vector<std::string>& failures) {
  Host& host = session.host();
  FrameRun& run = frame.run;
  const std::string& label = frame.label;
  if (run.pre_render == PF_Err_NONE) {
    const std::size_t mark = host.trace().entries().size();
    run.render = session.SmartRender(frame.current_time, frame.output.pre_render_data, frame.output.result_rect);
    run.rendered = true;
    run.output = host.TakeOutputWorld();
    const std::vector<Json> render_calls = CallsSince(host, mark);
    if (run.render != frame.expected.render) {
      failures.push_back(label + ", SmartRender returned " + Code(run.render) + " instead of " +
                         Code(frame.expected.render));
    }
    ExpectCleanCommand(host, label + ", SmartRender", failures);
    CheckRender(session, frame.current_time, render_calls, label, failures, run);
  }
  host.FreePreRenderData(&frame.output);
  for (const std::string& misuse : TakeMisuse(host)) failures.push_back(label + ": " + misuse);
  return std::move(run);
}

FrameRun RenderAndCheckFrame(Session& session, A_long current_time, const std::string& label,
                             std::vector<std::string>& failures, const FrameExpectation& expected) {
  PreRenderedFrame frame = PreRenderAndCheckFrame(session, current_time, label, failures, expected);
  return RenderAndCheckPreRendered(session, frame, failures);
}

std::uint64_t WorldDigest(const PixelWorld* world) {
  std::uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](const unsigned char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  };
  if (world == nullptr) return 0;
  const A_long size[2] = {world->width(), world->height()};
  mix(reinterpret_cast<const unsigned char*>(size), sizeof(size));
  const std::size_t row_bytes = static_cast<std::size_t>(world->width()) * BytesPerPixel(world->depth());
  for (A_long y = 0; y < world->height() && world->world().data != nullptr; ++y) {
    mix(world->Row<unsigned char>(y), row_bytes);
  }
  return hash;
}

}  // namespace hostsim::validate
