// libFuzzer harness: the fuzz input is a scene (layer sizes, in-points,
// durations, frame rate, time scale), parameter values, and a sequence of
// host commands with failures injected between them. The module is the
// sanitized build, loaded once; every input gets a fresh host.
//
// Besides the sanitizers' own findings, the harness stops (abort) when the
// effect breaks a rule a host relies on: after any command it must hold
// nothing but the handles the host keeps for it and must not misuse the
// host; a frame rendered without injected failures must ask for the input,
// read the source time and copy the rectangles the rendering rules give.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "CheckContext.h"
#include "FrameCheck.h"
#include "HostFunctions.h"
#include "JsonText.h"
#include "Session.h"
#include "EffectControls.h"
#include "pixels/PixelSource.h"

namespace {

using hostsim::BitDepth;
using hostsim::CompositionModel;
using hostsim::EffectSettings;
using hostsim::Host;
using hostsim::LayerModel;
using hostsim::Session;
namespace controls = hostsim::controls;

const hostsim::Module& FuzzModule() {
  static const hostsim::Module module([] {
    const char* path = std::getenv("TOVANE_FUZZ_MODULE");
    return std::string(path != nullptr ? path : TOVANE_FUZZ_MODULE_PATH);
  }());
  return module;
}

// The host of the input being run, for the trace a finding prints.
const Host* g_current_host = nullptr;

[[noreturn]] void Finding(const std::vector<std::string>& problems) {
  std::fprintf(stderr, "\n==== the effect broke a host rule ====\n");
  for (const std::string& problem : problems) std::fprintf(stderr, "  %s\n", problem.c_str());
  if (g_current_host != nullptr && std::getenv("TOVANE_FUZZ_TRACE") != nullptr) {
    std::fprintf(stderr, "---- host trace ----\n");
    for (const auto& entry : g_current_host->trace().entries()) std::fprintf(stderr, "%s\n", hostsim::JsonText(entry).c_str());
  }
  std::abort();
}

// Host calls the fuzzer may make fail, and the suites it may refuse: those
// of the host-function table.
const std::vector<const hostsim::HostFunction*>& FailableCalls() {
  static const std::vector<const hostsim::HostFunction*> calls = [] {
    std::vector<const hostsim::HostFunction*> found;
    for (auto* f = hostsim::HostFunctionsBegin(); f != hostsim::HostFunctionsEnd(); ++f) {
      if (f->can_fail()) found.push_back(f);
    }
    return found;
  }();
  return calls;
}

const std::vector<std::pair<std::string, A_long>>& RefusableSuites() {
  static const std::vector<std::pair<std::string, A_long>> suites = [] {
    std::set<std::pair<std::string, A_long>> found;
    for (auto* f = hostsim::HostFunctionsBegin(); f != hostsim::HostFunctionsEnd(); ++f) {
      if (f->suite_version != 0) found.insert({f->offered_by, f->suite_version});
    }
    return std::vector<std::pair<std::string, A_long>>(found.begin(), found.end());
  }();
  return suites;
}

const PF_Err kCodes[] = {PF_Err_OUT_OF_MEMORY, PF_Err_INTERNAL_STRUCT_DAMAGED, PF_Err_INVALID_INDEX,
                         PF_Err_BAD_CALLBACK_PARAM, PF_Interrupt_CANCEL, -1, 1};

A_long Side(FuzzedDataProvider& in) {
  // Mostly small worlds keep an execution cheap; the extremes still come.
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return 0;
    case 1: return 1;
    case 2: return 8192;
    default: return in.ConsumeIntegralInRange<A_long>(1, 160);
  }
}

A_Time Time(FuzzedDataProvider& in) {
  A_Time time;
  time.value = in.ConsumeIntegral<A_long>();
  const A_u_long scales[] = {1, 24, 30, 1000, 30000, 2147483647u};
  time.scale = in.ConsumeBool() ? in.PickValueInArray(scales) : in.ConsumeIntegralInRange<A_u_long>(1, 0xFFFFFFFFu);
  return time;
}

double Rate(FuzzedDataProvider& in) {
  const double rates[] = {0, 1, 0.5, 23.976, 29.97, 30, 60, 1e6, -30};
  return in.ConsumeBool() ? in.PickValueInArray(rates) : in.ConsumeFloatingPointInRange<double>(0, 1000);
}

PF_RationalScale Factor(FuzzedDataProvider& in) {
  const PF_RationalScale factors[] = {{1, 1}, {1, 2}, {1, 3}, {2, 3}, {1, 4}, {1, 8}, {1, 16}};
  return in.PickValueInArray(factors);
}

// Keeps every world the host lends small, so an execution stays cheap.
void FitBudget(Host& host) {
  constexpr double kBudget = 64.0 * 1024;
  const PF_RationalScale coarser[] = {{1, 2}, {1, 4}, {1, 8}, {1, 16}, {1, 32}, {1, 64}, {1, 128}};
  auto bytes = [&host](A_long w, A_long h) {
    const double fx = static_cast<double>(host.downsample_x().num) / host.downsample_x().den;
    const double fy = static_cast<double>(host.downsample_y().num) / host.downsample_y().den;
    return (w * fx + 1) * (h * fy + 1) * static_cast<double>(hostsim::BytesPerPixel(host.bit_depth()));
  };
  for (const PF_RationalScale& factor : coarser) {
    bool fits = true;
    for (const LayerModel& layer : host.composition().layers) fits = fits && bytes(layer.width, layer.height) <= kBudget;
    if (fits) return;
    host.SetDownsample(factor, factor);
  }
}

void ExpectClean(Host& host, const std::string& what, bool setdown_failed) {
  std::vector<std::string> problems;
  hostsim::validate::ExpectCleanCommand(host, what, problems, setdown_failed);
  if (!problems.empty()) Finding(problems);
}

}  // namespace

// Loads the module before the first input, so its coverage counters are
// known to the fuzzer from the start.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzModule();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Host host(FuzzModule());
  Session session(host);
  g_current_host = &host;

  CompositionModel comp;
  comp.frame_rate = Rate(in);
  const A_u_long time_scales[] = {1, 24, 30, 30000, 2147483647u};
  comp.time_scale = in.ConsumeBool() ? in.PickValueInArray(time_scales) : in.ConsumeIntegralInRange<A_u_long>(1, 100000);
  LayerModel effect_layer;
  effect_layer.id = 1;
  effect_layer.width = Side(in);
  effect_layer.height = Side(in);
  effect_layer.in_point = {0, 1};
  effect_layer.duration = {1000000, 1};
  effect_layer.source = std::make_shared<hostsim::GradientSource>();
  LayerModel chosen;
  chosen.id = 2;
  chosen.width = Side(in);
  chosen.height = Side(in);
  if (in.ConsumeBool()) {
    chosen.in_point = Time(in);
    chosen.duration = Time(in);
  } else {
    chosen.in_point = {in.ConsumeIntegralInRange<A_long>(-100, 300), comp.time_scale};
    chosen.duration = {in.ConsumeIntegralInRange<A_long>(-10, 3000), comp.time_scale};
  }
  chosen.source = std::make_shared<hostsim::GradientSource>();
  comp.width = effect_layer.width;
  comp.height = effect_layer.height;
  comp.layers = {effect_layer, chosen};

  EffectSettings settings;
  settings.on_layer = 1;
  const A_long chosen_ids[] = {2, 2, 0, 99};
  auto& values = settings.controls;
  values[controls::kLayer] = in.PickValueInArray(chosen_ids);
  values[controls::kMode] = in.ConsumeBool() ? in.ConsumeIntegralInRange<A_long>(controls::kCenter, controls::kFitToLayer)
                                             : in.ConsumeIntegral<A_long>();
  values[controls::kTimeType] = in.ConsumeBool() ? in.ConsumeIntegralInRange<A_long>(controls::kPercent, controls::kSecond)
                                                 : in.ConsumeIntegral<A_long>();
  values[controls::kTimePercent] = in.ConsumeFloatingPointInRange<double>(-10, 1000);
  values[controls::kTimeSec] =
      in.ConsumeBool() ? in.ConsumeFloatingPointInRange<double>(-10, 1e7) : in.ConsumeFloatingPoint<double>();
  host.SetScene(comp, settings);
  const BitDepth depths[] = {BitDepth::k8, BitDepth::k16, BitDepth::k32};
  host.SetBitDepth(in.PickValueInArray(depths));
  host.SetDownsample(Factor(in), Factor(in));
  FitBudget(host);

  bool set_up = false;
  bool faults_armed = false;
  bool setdown_failed = false;  // the host then keeps the global handle the effect could not free
  int commands = 0;
  // A failed setdown ends the run: the host unloads a module that could not
  // set down, and keeps the global handle the effect could not free.
  while (in.remaining_bytes() > 0 && commands < 16 && !setdown_failed) {
    ++commands;
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
      case 0: {  // a failure for some later call, or a refused suite
        if (in.ConsumeBool()) {
          const auto& calls = FailableCalls();
          host.faults().FailCall(calls[in.ConsumeIntegralInRange<std::size_t>(0, calls.size() - 1)]->name,
                                 in.ConsumeIntegralInRange<int>(0, 6), in.PickValueInArray(kCodes));
        } else {
          // Past the refusable suites, the choice is one of the host's rarer answers.
          const auto& suites = RefusableSuites();
          const std::size_t choice = in.ConsumeIntegralInRange<std::size_t>(0, suites.size() + hostsim::kHostAnswerCount - 1);
          if (choice >= suites.size()) {
            host.faults().Answer(static_cast<hostsim::HostAnswer>(1u << (choice - suites.size())));
          } else {
            host.faults().RefuseSuite(suites[choice].first, suites[choice].second,
                                      in.ConsumeBool() ? hostsim::SuiteRefusal::kErrorCode
                                                       : hostsim::SuiteRefusal::kNullSuite);
          }
        }
        faults_armed = true;
        break;
      }
      case 1:
        host.faults().Clear();
        faults_armed = false;
        break;
      case 2:
        if (!set_up) {
          session.GlobalSetup();
          ExpectClean(host, "GlobalSetup", false);
          set_up = host.global_data() != nullptr;
          if (set_up) {
            // A host renders nothing of an effect whose parameters it does not have.
            const PF_Err params = session.ParamsSetup();
            ExpectClean(host, "ParamsSetup", false);
            if (params != PF_Err_NONE) {
              const PF_Err err = session.GlobalSetdown();
              ExpectClean(host, "GlobalSetdown", err != PF_Err_NONE);
              setdown_failed = err != PF_Err_NONE;
              set_up = false;
            }
          }
        } else {
          const PF_Err err = session.GlobalSetdown();
          ExpectClean(host, "GlobalSetdown", err != PF_Err_NONE);
          setdown_failed = setdown_failed || err != PF_Err_NONE;
          set_up = false;
        }
        break;
      case 3:
        if (set_up) {
          session.UpdateParamsUI(controls::kTimeType,
                                 in.ConsumeBool() ? in.ConsumeIntegralInRange<A_long>(0, 3) : in.ConsumeIntegral<A_long>());
          ExpectClean(host, "UpdateParamsUI", false);
        }
        break;
      case 4:
      case 5:
      case 6: {
        if (!set_up) break;
        const A_long now = in.ConsumeIntegralInRange<A_long>(-1000, 100000);
        std::vector<std::string> problems;
        if (!faults_armed) {
          hostsim::validate::FrameExpectation expected;
          if (host.settings().controls[controls::kLayer].At(0.0, false) == 99) expected.render = PF_Err_INVALID_INDEX;
          hostsim::validate::RenderAndCheckFrame(session, now, "frame at " + std::to_string(now), problems, expected);
        } else {
          PF_PreRenderOutput output;
          std::memset(&output, 0, sizeof(output));
          const PF_Err pre = session.SmartPreRender(now, &output);
          hostsim::validate::ExpectCleanCommand(host, "SmartPreRender", problems);
          if (pre == PF_Err_NONE) {
            session.SmartRender(now, output.pre_render_data, output.result_rect);
            hostsim::validate::ExpectCleanCommand(host, "SmartRender", problems);
          }
          host.FreePreRenderData(&output);
        }
        if (!problems.empty()) Finding(problems);
        break;
      }
      case 7: {  // the user changes a control
        auto& set = host.settings().controls;
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
          case 0: set[controls::kMode] = in.ConsumeIntegral<A_long>(); break;
          case 1: set[controls::kTimeType] = in.ConsumeIntegralInRange<A_long>(-1, 3); break;
          case 2: set[controls::kTimePercent] = in.ConsumeFloatingPointInRange<double>(0, 100); break;
          default: set[controls::kLayer] = in.PickValueInArray(chosen_ids); break;
        }
        break;
      }
      case 8:
        host.SetBitDepth(in.PickValueInArray(depths));
        host.SetDownsample(Factor(in), Factor(in));
        FitBudget(host);
        break;
      default: {
        const PF_Cmd others[] = {PF_Cmd_ABOUT, PF_Cmd_RENDER, PF_Cmd_SEQUENCE_SETUP, 25, -1};
        session.SendPlain(in.PickValueInArray(others));
        ExpectClean(host, "a command the effect ignores", false);
        break;
      }
    }
  }
  if (set_up) {
    host.faults().Clear();
    session.GlobalSetdown();
  }
  hostsim::Holdings left = host.holdings();
  if (setdown_failed) left.other_handles = 0;
  if (!left.Empty()) Finding({"at the end the module still holds " + hostsim::validate::HeldText(left)});
  return 0;
}
