// Rendering as a host does it: many frames in random order of modes, time
// types, depths and resolutions, the same frames from several threads, and
// the worked examples with their one right answer each.

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "Checks.h"
#include "RenderMeeting.h"
#include "WorkedExamples.h"
#include "pixels/PixelSource.h"

namespace hostsim::validate {

namespace {

const PF_RationalScale kDownsamples[] = {{1, 1}, {1, 2}, {1, 3}, {2, 3}, {1, 4}};
const BitDepth kDepths[] = {BitDepth::k8, BitDepth::k16, BitDepth::k32};
// Whole frames of the standard composition a random frame is drawn at.
constexpr int kFrameTimes = 600;

struct FramePlan {
  A_long current_time = 0;
  A_long mode = 2;
  A_long time_type = 1;
  double percent = 0;
  double seconds = 0;
  A_long chosen = 0;
  BitDepth depth = BitDepth::k8;
  PF_RationalScale downsample_x{1, 1};
  PF_RationalScale downsample_y{1, 1};

  std::string Label(int index) const {
    std::ostringstream out;
    out << "frame " << index << " (time " << current_time << ", Mode " << mode << ", Time Type " << time_type
        << ", Time(%) " << percent << ", Time(sec) " << seconds << ", layer " << chosen << ", "
        << static_cast<int>(depth) << " bpc, downsample " << downsample_x.num << "/" << downsample_x.den << " x "
        << downsample_y.num << "/" << downsample_y.den << ")";
    return out.str();
  }
};

FramePlan RandomFrame(std::mt19937& random) {
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  FramePlan plan;
  plan.current_time = pick(kFrameTimes) * 100;  // a whole frame of the standard composition
  plan.mode = 1 + pick(4);
  plan.time_type = 1 + pick(2);
  plan.percent = pick(10001) / 100.0;
  plan.seconds = pick(2001) / 100.0;
  // The tall layer twice: only a frame of another aspect than the output shows
  // what "Whole" and "No Margin" do.
  const A_long layers[] = {0, kCardLayer, kOtherSizeLayer, kEmptyLayer, kOtherSizeLayer};
  plan.chosen = layers[pick(5)];
  plan.depth = kDepths[pick(3)];
  plan.downsample_x = kDownsamples[pick(5)];
  // Mostly the same factor on both axes, as hosts do; sometimes not.
  plan.downsample_y = pick(4) == 0 ? kDownsamples[pick(5)] : plan.downsample_x;
  return plan;
}

// A control keyed so that it has `value` at `now` and other values before
// and after: an effect that reads it at any other time than the frame's
// own reads another value. Sliders move between the keys, popups hold.
AnimatedValue KeyedAround(double now, double value, double before, double after) {
  return AnimatedValue({{now - 1.0, before, false}, {now, value, false}, {now + 1.0, after, false}});
}

void Apply(Host& host, const FramePlan& plan) {
  const double now = host.state().CompSecondsOfLayerTime(plan.current_time, host.composition().time_scale);
  const A_long other_mode = plan.mode % 4 + 1;
  const A_long other_time_type = plan.time_type % 2 + 1;
  // "Layer" stays: the host answers the chosen layer's checkout with the
  // layer chosen at the source time, which lies elsewhere.
  host.settings().controls = {
      {controls::kMode, KeyedAround(now, plan.mode, other_mode, other_mode)},
      {controls::kTimeType, KeyedAround(now, plan.time_type, other_time_type, other_time_type)},
      {controls::kTimePercent, KeyedAround(now, plan.percent, 100.0 - plan.percent, plan.percent / 2)},
      {controls::kTimeSec, KeyedAround(now, plan.seconds, plan.seconds + 3.0, plan.seconds / 2)},
      {controls::kLayer, plan.chosen}};
  host.SetBitDepth(plan.depth);
  host.SetDownsample(plan.downsample_x, plan.downsample_y);
}

bool SameRect(const PF_LRect& a, const PF_LRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Renders one frame of `comp` with `settings` on a host of its own, checked
// as every frame is; false when the effect could not be set up.
bool RenderExample(CheckContext& ctx, const CompositionModel& comp, const EffectSettings& settings,
                   const std::string& label, std::vector<std::string>& failures, FrameRun* run) {
  Host host(ctx.module());
  Session session(host);
  host.SetScene(comp, settings);
  if (!SetUpEffect(session, failures)) return false;
  *run = RenderAndCheckFrame(session, 0, label, failures);
  session.GlobalSetdown();
  if (!host.holdings().Empty()) failures.push_back(label + ": after GlobalSetdown the module still holds " + HeldText(host.holdings()));
  return true;
}

LayerModel* LayerWithId(CompositionModel& comp, A_long id) {
  for (LayerModel& layer : comp.layers) {
    if (layer.id == id) return &layer;
  }
  return nullptr;
}

}  // namespace

void CheckWorkedExamples(CheckContext& ctx) {
  std::vector<std::string> failures;
  const auto gradient = std::make_shared<GradientSource>();
  int placements = 0, times = 0;
  for (const PlacementExample& example : PlacementExamples()) {
    const PlacementCase& c = example.placed;
    CompositionModel comp = StandardComposition();
    comp.width = c.ow;
    comp.height = c.oh;
    LayerModel* effect_layer = LayerWithId(comp, kEffectLayer);
    effect_layer->width = c.ow;
    effect_layer->height = c.oh;
    effect_layer->source = gradient;
    LayerModel* chosen = LayerWithId(comp, kCardLayer);
    chosen->width = c.lw;
    chosen->height = c.lh;
    chosen->source = gradient;
    EffectSettings settings = StandardSettings(kCardLayer);
    settings.controls[controls::kMode] = c.mode;
    const std::string label = "placement example " + std::to_string(placements + 1);
    FrameRun run;
    if (!RenderExample(ctx, comp, settings, label, failures, &run)) break;
    ++placements;
    if (!run.placed) {
      failures.push_back(label + ": the chosen layer's frame was not placed");
    } else if (!SameRect(run.src, example.src) || !SameRect(run.dst, example.dst)) {
      failures.push_back(label + ": Mode " + std::to_string(c.mode) + " with a " + std::to_string(c.lw) + " x " +
                         std::to_string(c.lh) + " frame on a " + std::to_string(c.ow) + " x " + std::to_string(c.oh) +
                         " output copied " + RectText(run.src) + " to " + RectText(run.dst) + " instead of " +
                         RectText(example.src) + " to " + RectText(example.dst));
    }
  }
  for (const SourceTimeExample& example : SourceTimeExamples()) {
    CompositionModel comp = StandardComposition();
    comp.frame_rate = example.frame_rate;
    comp.time_scale = example.time_scale;
    LayerModel* chosen = LayerWithId(comp, kCardLayer);
    chosen->in_point = example.in_point;
    chosen->duration = example.duration;
    EffectSettings settings = StandardSettings(kCardLayer);
    settings.controls[controls::kTimeType] = example.time_type;
    settings.controls[controls::kTimePercent] = example.percent;
    settings.controls[controls::kTimeSec] = example.seconds;
    const std::string label = std::string("source time at ") + example.what;
    FrameRun run;
    if (!RenderExample(ctx, comp, settings, label, failures, &run)) break;
    ++times;
    if (run.source_time.value != example.comp_time || run.source_time.scale != example.time_scale) {
      failures.push_back(label + ": asked for the composition time " + std::to_string(run.source_time.value) + "/" +
                         std::to_string(run.source_time.scale) + " instead of " + std::to_string(example.comp_time) +
                         "/" + std::to_string(example.time_scale));
    }
  }
  for (const std::string& f : failures) ctx.Fail(f);
  ctx.data()["placements"] = placements;
  ctx.data()["source_times"] = times;
  ctx.Summary(std::to_string(placements) + " placements and " + std::to_string(times) +
              " source times, each equal to its worked example");
}

void CheckRenderSequence(CheckContext& ctx) {
  Host host(ctx.module());
  Session session(host);
  host.SetScene(StandardComposition(), StandardSettings(kCardLayer));
  if (!SetUpEffect(session, ctx)) return;
  std::vector<std::string> failures;
  int frames = 0, placed = 0, passed_through = 0, updates = 0;
  std::array<int, 5> by_mode{};
  for (int i = 0; i < ctx.options().frames; ++i) {
    const FramePlan plan = RandomFrame(ctx.random());
    const double previous_time_type = host.ControlValue(controls::kTimeType).value_or(0);
    Apply(host, plan);
    // A host sends the visibility update after the user changes a parameter.
    if (plan.time_type != previous_time_type || ctx.random()() % 4 == 0) {
      const PF_Err err = session.UpdateParamsUI();
      ++updates;
      if (err != PF_Err_NONE) failures.push_back(plan.Label(i) + ": UpdateParamsUI returned " + std::to_string(err));
      ExpectCleanCommand(host, plan.Label(i) + ", UpdateParamsUI", failures);
    }
    const FrameRun run = RenderAndCheckFrame(session, plan.current_time, plan.Label(i), failures);
    ++frames;
    run.placed ? ++placed : ++passed_through;
    ++by_mode[static_cast<std::size_t>(plan.mode)];
  }
  const PF_Err setdown = session.GlobalSetdown();
  if (setdown != PF_Err_NONE) failures.push_back("GlobalSetdown returned " + std::to_string(setdown));
  if (!host.holdings().Empty()) failures.push_back("after GlobalSetdown the module still holds " + HeldText(host.holdings()));
  for (const std::string& f : failures) ctx.Fail(f);
  ctx.data()["frames"] = frames;
  ctx.data()["placed"] = placed;
  ctx.data()["passed_through"] = passed_through;
  ctx.data()["visibility_updates"] = updates;
  ctx.Summary(std::to_string(frames) + " frames (" + std::to_string(placed) + " placed, " +
              std::to_string(passed_through) + " passed through; Modes 1-4: " + std::to_string(by_mode[1]) + "/" +
              std::to_string(by_mode[2]) + "/" + std::to_string(by_mode[3]) + "/" + std::to_string(by_mode[4]) +
              ") and " + std::to_string(updates) + " visibility updates");
}

namespace {

// The frames of one render thread of concurrent-render. Within a thread
// each frame is at a time of its own while times last, so the host paints a
// fresh input for each (see MeetingCheckerSource), and "Time Type"
// alternates from frame to frame and from thread to thread: two frames
// rendered together, or pre-rendered one after the other, never share the
// source time's rule.
std::vector<FramePlan> ConcurrentFrames(std::mt19937& random, int thread, int count) {
  std::vector<FramePlan> list;
  std::set<A_long> times;
  while (static_cast<int>(list.size()) < count) {
    FramePlan plan = RandomFrame(random);
    const bool times_left = times.size() < static_cast<std::size_t>(kFrameTimes);
    if (!times.insert(plan.current_time).second && times_left) continue;
    if (plan.chosen == kEmptyLayer || plan.chosen == 0) plan.chosen = kCardLayer;  // frames with pixels to compare
    plan.time_type = 1 + (thread + static_cast<int>(list.size())) % 2;
    list.push_back(plan);
  }
  return list;
}

// One render thread's frames as a host drives them when it pre-renders
// ahead: pre-render A, pre-render B, render A, render B, each with the
// host's settings for that frame. A value kept in a static between the
// passes reaches A's render from B's pre-render. Digests in frame order.
void RenderInPairs(Session& session, const std::vector<FramePlan>& list, std::vector<std::uint64_t>& digests,
                   std::vector<std::string>& failures) {
  Host& host = session.host();
  for (std::size_t i = 0; i < list.size(); i += 2) {
    const std::size_t pair = std::min<std::size_t>(2, list.size() - i);
    std::vector<PreRenderedFrame> ahead;
    for (std::size_t k = 0; k < pair; ++k) {
      const FramePlan& plan = list[i + k];
      Apply(host, plan);
      ahead.push_back(PreRenderAndCheckFrame(session, plan.current_time,
                                             plan.Label(static_cast<int>(i + k)) + " pre-rendered ahead", failures));
    }
    for (std::size_t k = 0; k < pair; ++k) {
      Apply(host, list[i + k]);
      const FrameRun run = RenderAndCheckPreRendered(session, ahead[k], failures);
      digests.push_back(WorldDigest(run.output.get()));
    }
  }
}

}  // namespace

void CheckConcurrentRender(CheckContext& ctx) {
  const int threads = std::max(2, ctx.options().threads);
  const int frames_per_thread = std::max(4, ctx.options().frames / threads);
  std::vector<std::vector<FramePlan>> plans;
  for (int t = 0; t < threads; ++t) plans.push_back(ConcurrentFrames(ctx.random(), t, frames_per_thread));

  // The reference: each frame alone, its pre-render followed by its render.
  std::vector<std::vector<std::uint64_t>> alone(plans.size()), together(plans.size());
  std::vector<std::vector<std::string>> failures(plans.size());
  for (std::size_t t = 0; t < plans.size(); ++t) {
    Host host(ctx.module());
    Session session(host);
    host.SetScene(StandardComposition(), StandardSettings(kCardLayer));
    if (!SetUpEffect(session, failures[t])) continue;
    for (std::size_t i = 0; i < plans[t].size(); ++i) {
      Apply(host, plans[t][i]);
      const FrameRun run = RenderAndCheckFrame(session, plans[t][i].current_time, plans[t][i].Label(static_cast<int>(i)),
                                               failures[t]);
      alone[t].push_back(WorldDigest(run.output.get()));
    }
    session.GlobalSetdown();
  }

  // Each thread drives its own host over the one loaded module; a host is
  // one effect instance, so this is what several render threads of one
  // instance see: calls on the same code and the same statics at once. The
  // threads start together, and every render pass waits inside the effect,
  // where the host draws its input, until the others are there too.
  RenderMeeting start(threads), inside_render(threads);
  std::vector<std::thread> workers;
  std::vector<std::vector<std::string>> thread_failures(plans.size());
  for (std::size_t t = 0; t < plans.size(); ++t) {
    workers.emplace_back([&, t] {
      CompositionModel comp = StandardComposition();
      LayerModel* effect_layer = LayerWithId(comp, kEffectLayer);
      effect_layer->source = std::make_shared<MeetingCheckerSource>(inside_render, kEffectLayerCheckerCell,
                                                                    effect_layer->width, effect_layer->height);
      Host host(ctx.module());
      Session session(host);
      host.SetScene(comp, StandardSettings(kCardLayer));
      if (SetUpEffect(session, thread_failures[t])) {
        start.Meet();
        RenderInPairs(session, plans[t], together[t], thread_failures[t]);
        session.GlobalSetdown();
      } else {
        start.Leave();
      }
      inside_render.Leave();
    });
  }
  for (std::thread& worker : workers) worker.join();

  int compared = 0;
  for (std::size_t t = 0; t < plans.size(); ++t) {
    for (const std::string& f : failures[t]) ctx.Fail("alone: " + f);
    for (const std::string& f : thread_failures[t]) ctx.Fail("thread " + std::to_string(t) + ": " + f);
    for (std::size_t i = 0; i < plans[t].size() && i < together[t].size() && i < alone[t].size(); ++i) {
      ++compared;
      if (together[t][i] != alone[t][i]) {
        ctx.Fail("thread " + std::to_string(t) + ", " + plans[t][i].Label(static_cast<int>(i)) +
                 ": the output differs from the same frame rendered alone on one thread");
      }
    }
  }
  ctx.data()["threads"] = threads;
  ctx.data()["frames_compared"] = compared;
  ctx.data()["render_meetings"] = inside_render.met();
  ctx.data()["missed_meetings"] = inside_render.missed();
  const int missed = inside_render.missed();
  ctx.Summary(std::to_string(threads) + " threads, each pre-rendering two frames before rendering them, " +
              std::to_string(compared) + " frames compared with their renders alone; the render passes met " +
              "inside the effect " + std::to_string(inside_render.met()) + " times" +
              (missed > 0 ? " (" + std::to_string(missed) + " waits gave up)" : ""));
}

}  // namespace hostsim::validate
