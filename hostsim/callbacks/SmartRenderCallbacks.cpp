// The callbacks of the two smart-render passes: declaring the input layer in
// pre-render, and lending its pixels and the output world in render.

#include <algorithm>

#include "HostState.h"
#include "HostCall.h"
#include "SmartRenderCallbacks.h"

namespace hostsim {

namespace {

nlohmann::ordered_json RectJson(const PF_LRect& rect) {
  return nlohmann::ordered_json::array({rect.left, rect.top, rect.right, rect.bottom});
}

PF_Err CheckoutLayer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id, const PF_RenderRequest* req,
                     A_long what_time, A_long time_step, A_u_long time_scale, PF_CheckoutResult* checkout_result) {
  return HostCall<A_Err>(HostFunctionId::kCheckoutLayer, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    entry["index"] = index;
    entry["checkout_id"] = checkout_id;
    if (entry.tracing()) entry["rect"] = req != nullptr ? RectJson(req->rect) : nlohmann::ordered_json();
    if (entry.tracing()) entry["preserve_rgb_of_zero_alpha"] = req != nullptr ? nlohmann::ordered_json(req->preserve_rgb_of_zero_alpha) : nullptr;
    if (req != nullptr) {
      entry["field"] = req->field;
      entry["channel_mask"] = req->channel_mask;
    }
    entry["time"] = what_time;
    entry["time_step"] = time_step;
    entry["time_scale"] = time_scale;
    if (!host.CheckEffectRef(effect_ref, entry)) return PF_Err_BAD_CALLBACK_PARAM;
    if (req == nullptr || checkout_result == nullptr) {
      host.Misuse(entry, "null request or result");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    // Only the effect's own input is modelled as a layer that can be declared here.
    if (index != 0) return PF_Err_INVALID_INDEX;

    const A_long width = host.input_width();
    const A_long height = host.input_height();
    PF_LRect clipped = req->rect;
    clipped.left = std::clamp<A_long>(clipped.left, 0, width);
    clipped.right = std::clamp<A_long>(clipped.right, 0, width);
    clipped.top = std::clamp<A_long>(clipped.top, 0, height);
    clipped.bottom = std::clamp<A_long>(clipped.bottom, 0, height);
    checkout_result->result_rect = clipped;
    checkout_result->max_result_rect = clipped;
    if (host.faults.Answers(HostAnswer::kMaxResultRectWider)) {
      // What the layer could deliver with every effect's extra pixels, beyond what it delivers now.
      checkout_result->max_result_rect = {clipped.left - 16, clipped.top - 16, clipped.right + 16, clipped.bottom + 16};
    }
    checkout_result->par = PF_RationalScale{1, 1};
    checkout_result->ref_width = width;
    checkout_result->ref_height = height;
    if (entry.tracing()) entry["result_rect"] = RectJson(clipped);

    LayerRequest request;
    request.index = index;
    request.checkout_id = checkout_id;
    request.request = *req;
    request.what_time = what_time;
    request.time_step = time_step;
    request.time_scale = time_scale;
    host.command.layer_requests.push_back(request);
    return PF_Err_NONE;
  });
}

PF_Err CheckoutLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
  return HostCall<A_Err>(HostFunctionId::kCheckoutLayerPixels, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    entry["checkout_id"] = checkout_id;
    if (!host.CheckEffectRef(effect_ref, entry)) return PF_Err_BAD_CALLBACK_PARAM;
    if (pixels == nullptr) {
      host.Misuse(entry, "null output pointer");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    const auto& requests = host.command.layer_requests;
    const bool declared = std::any_of(requests.begin(), requests.end(),
                                      [&](const LayerRequest& r) { return r.checkout_id == checkout_id; });
    if (!declared) {
      host.Misuse(entry, "checkout id not declared in pre-render");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (host.faults.Answers(HostAnswer::kNullInputWorldOnSuccess)) {
      *pixels = nullptr;
      return PF_Err_NONE;
    }
    std::unique_ptr<PixelWorld>& lent = host.command.checked_out_layer_pixels[checkout_id];
    if (!lent) {
      try {
        const RecordsUnlocked drawing(host);
        lent = host.RenderInputFrame();
      } catch (const std::exception& failure) {
        host.command.checked_out_layer_pixels.erase(checkout_id);
        entry["host_failure"] = failure.what();
        return HostFailureCode(failure);
      }
    }
    *pixels = &lent->world();
    if (entry.tracing()) entry["size"] = nlohmann::ordered_json::array({lent->width(), lent->height()});
    return PF_Err_NONE;
  });
}

PF_Err CheckinLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id) {
  return HostCall<A_Err>(HostFunctionId::kCheckinLayerPixels, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    entry["checkout_id"] = checkout_id;
    if (!host.CheckEffectRef(effect_ref, entry)) return PF_Err_BAD_CALLBACK_PARAM;
    auto& checked_out = host.command.checked_out_layer_pixels;
    auto found = checked_out.find(checkout_id);
    if (found == checked_out.end()) {
      host.Misuse(entry, "layer pixels not checked out");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    checked_out.erase(found);
    return PF_Err_NONE;
  });
}

PF_Err CheckoutOutput(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
  return HostCall<A_Err>(HostFunctionId::kCheckoutOutput, PF_Err_INVALID_CALLBACK, [=](HostState& host, TraceEntry& entry) -> A_Err {
    if (!host.CheckEffectRef(effect_ref, entry)) return PF_Err_BAD_CALLBACK_PARAM;
    if (output == nullptr) {
      host.Misuse(entry, "null output pointer");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    PixelWorld* world = host.command.output_world.get();
    if (world == nullptr) {
      host.Misuse(entry, "no render pass is running");
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (host.faults.Answers(HostAnswer::kNullOutputWorldOnSuccess)) {
      *output = nullptr;
      return PF_Err_NONE;
    }
    *output = &world->world();
    host.command.output_checked_out = true;
    if (entry.tracing()) entry["size"] = nlohmann::ordered_json::array({world->width(), world->height()});
    return PF_Err_NONE;
  });
}

}  // namespace

PF_PreRenderCallbacks PreRenderCallbacks() {
  PF_PreRenderCallbacks callbacks{};
  callbacks.checkout_layer = CheckoutLayer;
  return callbacks;
}

PF_SmartRenderCallbacks SmartRenderCallbacks() {
  PF_SmartRenderCallbacks callbacks{};
  callbacks.checkout_layer_pixels = CheckoutLayerPixels;
  callbacks.checkin_layer_pixels = CheckinLayerPixels;
  callbacks.checkout_output = CheckoutOutput;
  return callbacks;
}

}  // namespace hostsim
