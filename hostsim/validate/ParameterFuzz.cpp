// Random and extreme parameter values and scene geometry: popup values
// outside their lists, sliders at and beyond their ends, layers from 0 x 0
// to 8192 x 8192, in-points and durations of zero and below, frame rates of
// zero, time scales from 1 to 2^31 - 1. Every frame must come back without a
// crash, with rectangles that have the properties of their mode and the
// source time its timing gives.

#include <algorithm>
#include <chrono>
#include <limits>
#include <sstream>

#include "Checks.h"
#include "RequestRules.h"
#include "pixels/PixelSource.h"

namespace hostsim::validate {

namespace {

constexpr A_long kMax = std::numeric_limits<A_long>::max();
constexpr A_long kMin = std::numeric_limits<A_long>::min();
// Pixels the host may lend per world in one case; larger scenes are drawn
// at a lower resolution (the layer sizes themselves stay as chosen).
constexpr double kWorldBudgetBytes = 16.0 * 1024 * 1024;

struct FuzzCase {
  A_long effect_width = 96, effect_height = 54;
  A_long chosen_width = 64, chosen_height = 36;
  A_Time in_point{0, 30};
  A_Time duration{300, 30};
  double frame_rate = 30;
  A_u_long time_scale = 30;
  A_long mode = 2;
  A_long time_type = 1;
  double percent = 0;
  double seconds = 0;
  A_long chosen = kCardLayer;
  BitDepth depth = BitDepth::k8;
  PF_RationalScale downsample{1, 1};
  A_long current_time = 0;

  std::string Label(int index) const {
    std::ostringstream out;
    out << "case " << index << " (effect layer " << effect_width << " x " << effect_height << ", chosen layer "
        << chosen << " of " << chosen_width << " x " << chosen_height << ", in-point " << in_point.value << "/"
        << in_point.scale << ", duration " << duration.value << "/" << duration.scale << ", " << frame_rate
        << " fps, time scale " << time_scale << ", Mode " << mode << ", Time Type " << time_type << ", Time(%) "
        << percent << ", Time(sec) " << seconds << ", " << static_cast<int>(depth) << " bpc, downsample "
        << downsample.num << "/" << downsample.den << ", time " << current_time << ")";
    return out.str();
  }
};

template <typename T, std::size_t N>
T PickFrom(std::mt19937& random, const T (&values)[N]) {
  return values[random() % N];
}

A_long RandomSide(std::mt19937& random) {
  const A_long sides[] = {0, 1, 2, 3, 7, 64, 333, 1000, 1920, 4096, 8192};
  return random() % 3 == 0 ? static_cast<A_long>(1 + random() % 8192) : PickFrom(random, sides);
}

A_Time RandomTime(std::mt19937& random, bool duration) {
  const A_long values[] = {0, 1, -1, -30, 60, 300, 299, 123456, -123456, kMax, kMin};
  const A_u_long scales[] = {1, 24, 30, 1000, 30000, 2147483647u};
  A_Time time{PickFrom(random, values), PickFrom(random, scales)};
  if (random() % 3 == 0) time.value = static_cast<A_long>(random() % 2000) - (duration ? 100 : 1000);
  return time;
}

std::size_t WorldBytes(A_long width, A_long height, const PF_RationalScale& factor, BitDepth depth) {
  const double w = std::max<A_long>(0, RequestedSide(width, factor));
  const double h = std::max<A_long>(0, RequestedSide(height, factor));
  return static_cast<std::size_t>(w * h * static_cast<double>(BytesPerPixel(depth)));
}

FuzzCase RandomCase(std::mt19937& random) {
  FuzzCase c;
  c.effect_width = RandomSide(random);
  c.effect_height = RandomSide(random);
  c.chosen_width = RandomSide(random);
  c.chosen_height = RandomSide(random);
  c.in_point = RandomTime(random, false);
  c.duration = RandomTime(random, true);
  const double rates[] = {0, 1, 0.5, 23.976, 29.97, 30, 60, 120, 1e6};
  c.frame_rate = PickFrom(random, rates);
  const A_u_long time_scales[] = {1, 24, 30, 2997, 30000, 2147483647u};
  c.time_scale = PickFrom(random, time_scales);
  const A_long modes[] = {1, 2, 3, 4, 0, 5, -1, kMax, kMin};
  c.mode = PickFrom(random, modes);
  const A_long time_types[] = {1, 2, 0, 3, -1, kMax};
  c.time_type = PickFrom(random, time_types);
  const double percents[] = {0, 100, 37.5, 50, 99.99, 0.01, -1, 1000};
  c.percent = random() % 3 == 0 ? static_cast<double>(random() % 10001) / 100.0 : PickFrom(random, percents);
  const double seconds[] = {0, 1e6, 1.5, 0.001, 20, 999999.99, -1, 1e9};
  c.seconds = random() % 3 == 0 ? static_cast<double>(random() % 2001) / 100.0 : PickFrom(random, seconds);
  const A_long chosen[] = {kCardLayer, kCardLayer, kCardLayer, 0, 99};
  c.chosen = PickFrom(random, chosen);
  const BitDepth depths[] = {BitDepth::k8, BitDepth::k16, BitDepth::k32};
  c.depth = PickFrom(random, depths);
  const PF_RationalScale factors[] = {{1, 1}, {1, 2}, {1, 3}, {2, 3}, {1, 4}, {1, 8}, {1, 16}};
  c.downsample = PickFrom(random, factors);
  c.current_time = static_cast<A_long>(random() % 1200) - 100;
  if (random() % 2 == 0) {
    // Half the scenes keep the chosen layer's frame in reach, so that the
    // placement rules are exercised as often as the extremes.
    c.in_point = A_Time{static_cast<A_long>(random() % 100), 30};
    c.duration = A_Time{static_cast<A_long>(1 + random() % 600), 30};
    c.frame_rate = 30;
    c.time_scale = 30;
    c.chosen = kCardLayer;
    if (c.time_type == controls::kSecond) c.seconds = static_cast<double>(random() % 1000) / 100.0;
  }
  // Keep every lent world within the budget by lowering the resolution.
  const PF_RationalScale coarser[] = {{1, 2}, {1, 4}, {1, 8}, {1, 16}, {1, 32}};
  for (const PF_RationalScale& factor : coarser) {
    if (WorldBytes(c.effect_width, c.effect_height, c.downsample, c.depth) <= kWorldBudgetBytes &&
        WorldBytes(c.chosen_width, c.chosen_height, c.downsample, c.depth) <= kWorldBudgetBytes) {
      break;
    }
    c.downsample = factor;
  }
  return c;
}

// The largest layers once each: a chosen layer of 8192 x 8192 at full
// resolution on a small output, and an 8192 x 8192 effect layer.
std::vector<FuzzCase> FixedCases() {
  std::vector<FuzzCase> cases;
  FuzzCase big_chosen;
  big_chosen.chosen_width = 8192;
  big_chosen.chosen_height = 8192;
  big_chosen.mode = 1;
  cases.push_back(big_chosen);
  FuzzCase big_output;
  big_output.effect_width = 8192;
  big_output.effect_height = 8192;
  big_output.chosen_width = 1;
  big_output.chosen_height = 1;
  big_output.mode = 3;
  // Full resolution here would only time the host's copy of 64 million pixels.
  big_output.downsample = {1, 4};
  cases.push_back(big_output);
  FuzzCase tiny;
  tiny.effect_width = 1;
  tiny.effect_height = 1;
  tiny.chosen_width = 1;
  tiny.chosen_height = 1;
  tiny.time_scale = 2147483647u;
  tiny.frame_rate = 0;
  tiny.time_type = 2;
  tiny.seconds = 1e6;
  cases.push_back(tiny);
  FuzzCase empty;
  empty.effect_width = 0;
  empty.effect_height = 0;
  empty.chosen_width = 0;
  empty.chosen_height = 0;
  empty.duration = {0, 1};
  empty.time_scale = 1;
  cases.push_back(empty);
  return cases;
}

CompositionModel SceneOf(const FuzzCase& c) {
  CompositionModel comp;
  comp.width = c.effect_width;
  comp.height = c.effect_height;
  comp.frame_rate = c.frame_rate;
  comp.time_scale = c.time_scale;
  LayerModel effect_layer;
  effect_layer.id = kEffectLayer;
  effect_layer.width = c.effect_width;
  effect_layer.height = c.effect_height;
  effect_layer.in_point = {0, 1};
  effect_layer.duration = {1000000, 1};
  if (c.effect_width > 0 && c.effect_height > 0) {
    effect_layer.source = std::make_shared<CheckerSource>(16, c.effect_width, c.effect_height);
  } else {
    effect_layer.source = std::make_shared<GradientSource>();
  }
  LayerModel chosen;
  chosen.id = kCardLayer;
  chosen.width = c.chosen_width;
  chosen.height = c.chosen_height;
  chosen.in_point = c.in_point;
  chosen.duration = c.duration;
  chosen.source = std::make_shared<GradientSource>();
  comp.layers = {effect_layer, chosen};
  return comp;
}

}  // namespace

void CheckParameterFuzz(CheckContext& ctx) {
  // Each random case is drawn as its turn comes, in the same order as ever,
  // so a run of many cases holds one at a time.
  const std::vector<FuzzCase> fixed = FixedCases();
  const std::size_t count = fixed.size() + static_cast<std::size_t>(std::max(ctx.options().fuzz_cases, 0));

  int placed = 0, passed_through = 0, crashed = 0;
  double slowest_seconds = 0;
  std::string slowest;
  for (std::size_t i = 0; i < count; ++i) {
    const FuzzCase c = i < fixed.size() ? fixed[i] : RandomCase(ctx.random());
    const std::string label = c.Label(static_cast<int>(i));
    const auto started = std::chrono::steady_clock::now();
    const CaseOutcome outcome = RunCase(ctx.options().isolate, label, [&](CaseOutcome& out) {
      Host host(ctx.module());
      Session session(host);
      EffectSettings settings;
      settings.on_layer = kEffectLayer;
      settings.controls = {{controls::kLayer, c.chosen},
                           {controls::kMode, c.mode},
                           {controls::kTimeType, c.time_type},
                           {controls::kTimePercent, c.percent},
                           {controls::kTimeSec, c.seconds}};
      host.SetScene(SceneOf(c), settings);
      host.SetBitDepth(c.depth);
      host.SetDownsample(c.downsample, c.downsample);
      if (!SetUpEffect(session, out.failures)) return;
      session.UpdateParamsUI();
      ExpectCleanCommand(host, label + ", UpdateParamsUI", out.failures);
      FrameExpectation expected;
      // A chosen layer id the composition does not have: the host's lookup
      // fails, and its code is what the render pass must return.
      if (c.chosen == 99) expected.render = PF_Err_INVALID_INDEX;
      const FrameRun run = RenderAndCheckFrame(session, c.current_time, label, out.failures, expected);
      out.data["placed"] = run.placed;
      session.GlobalSetdown();
      if (!host.holdings().Empty()) {
        out.failures.push_back(label + ": after GlobalSetdown the module still holds " + HeldText(host.holdings()));
      }
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (seconds > slowest_seconds) {
      slowest_seconds = seconds;
      slowest = label;
    }
    if (outcome.crashed) {
      ++crashed;
      ctx.Fail(label + ": the module crashed (" + outcome.crash + ")");
      continue;
    }
    for (const std::string& f : outcome.failures) ctx.Fail(f);
    outcome.data.value("placed", false) ? ++placed : ++passed_through;
  }
  ctx.data()["cases"] = count;
  ctx.data()["placed"] = placed;
  ctx.data()["passed_through_or_failed_as_expected"] = passed_through;
  ctx.data()["crashed"] = crashed;
  ctx.data()["slowest_case"] = slowest;
  ctx.data()["slowest_case_seconds"] = slowest_seconds;
  ctx.Summary(std::to_string(count) + " scenes (" + std::to_string(placed) + " placed a frame, " +
              std::to_string(passed_through) + " passed the input through or failed as the host did)");
}

}  // namespace hostsim::validate
