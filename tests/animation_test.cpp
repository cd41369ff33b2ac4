// Animated controls: the effect reads every control at the frame's own time
// and passes the host's time step and scale, so keyed values cut, scrub and
// freeze as the user keyed them. The composition ticks 100 times a frame
// (30 fps at a time scale of 3000): a time step of 1 or 0 is not the host's.

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "EffectFixture.h"
#include "PixelSource.h"

namespace {

using hostsim::AnimatedValue;
using hostsim::FrameResult;
using nlohmann::ordered_json;
using tovane_test::EffectTest;
using tovane_test::NoMisuse;

constexpr A_u_long kScale = 3000;
constexpr A_long kStep = 100;  // one frame at 30 fps
constexpr A_long kLandscape = 2, kPortrait = 3;

A_Time Seconds(double seconds) { return A_Time{static_cast<A_long>(seconds * kScale), kScale}; }

// The effect on layer 1; a landscape layer of frame cards shown from 0 s and
// a portrait one shown from 1 s, both 10 s long.
hostsim::CompositionModel Composition() {
  hostsim::CompositionModel comp;
  comp.width = 1920;
  comp.height = 1080;
  comp.frame_rate = 30.0;
  comp.time_scale = kScale;
  hostsim::LayerModel effect_layer;
  effect_layer.id = 1;
  effect_layer.width = 1920;
  effect_layer.height = 1080;
  effect_layer.start = effect_layer.in_point = Seconds(0);
  effect_layer.duration = Seconds(20);
  effect_layer.source = std::make_shared<hostsim::CheckerSource>(64, 1920, 1080);
  hostsim::LayerModel landscape = effect_layer;
  landscape.id = kLandscape;
  landscape.width = 1280;
  landscape.height = 720;
  landscape.duration = Seconds(10);
  landscape.source = std::make_shared<hostsim::FrameCardSource>("landscape");
  hostsim::LayerModel portrait = landscape;
  portrait.id = kPortrait;
  portrait.width = 720;
  portrait.height = 1280;
  portrait.in_point = Seconds(1);
  portrait.source = std::make_shared<hostsim::FrameCardSource>("portrait");
  comp.layers = {effect_layer, landscape, portrait};
  return comp;
}

class AnimationTest : public EffectTest {
 protected:
  void SetUp() override { SetUpEffect(); }

  void Animate(std::map<std::string, AnimatedValue> controls) {
    hostsim::EffectSettings settings;
    settings.on_layer = 1;
    settings.controls = std::move(controls);
    host_.SetScene(Composition(), settings);
  }

  // Renders the frame at a composition time and returns the render pass's
  // checkout of "Layer" and its copy.
  struct Frame {
    ordered_json checkout;
    ordered_json copy;
  };
  Frame RenderAt(double seconds) {
    const FrameResult frame = session_.RenderFrameAtCompTime(Seconds(seconds));
    EXPECT_EQ(frame.error(), PF_Err_NONE) << "at " << seconds << " s";
    EXPECT_TRUE(NoMisuse(host_));
    Frame seen;
    for (const ordered_json& call : host_.trace().CallsOfLastCommand()) {
      if (call["call"] == "checkout_param" && call["index"] == host_.DeclaredIndex(controls::kLayer)) {
        seen.checkout = call;
      }
      if (call["call"] == "copy") seen.copy = call;
    }
    return seen;
  }
};

TEST_F(AnimationTest, EachSideOfAKeyShowsItsOwnLayerAndPlacement) {
  // "Layer" cuts from the landscape to the portrait layer at 1 s, "Mode"
  // from "Whole" to "Center" at 2 s. Each layer's frame is taken at its
  // in-point, where "Layer" already names it.
  Animate({{controls::kLayer, AnimatedValue({{0, kLandscape}, {1, kPortrait}})},
           {controls::kMode, AnimatedValue({{0, controls::kWhole}, {2, controls::kCenter}})}});
  const struct {
    double seconds;
    A_long layer;
    std::vector<A_long> src, dst;
  } expected[] = {
      {0.5, kLandscape, {0, 0, 1280, 720}, {0, 0, 1920, 1080}},   // "Whole", same aspect: the whole output
      {1.5, kPortrait, {0, 0, 720, 1280}, {656, 0, 1264, 1080}},  // "Whole": pillarboxed
      {2.5, kPortrait, {-600, 100, 1320, 1180}, {0, 0, 1920, 1080}},  // "Center": a window of the output's size
  };
  for (const auto& e : expected) {
    SCOPED_TRACE("at " + std::to_string(e.seconds) + " s");
    const Frame frame = RenderAt(e.seconds);
    EXPECT_EQ(frame.checkout["layer"], e.layer);
    EXPECT_EQ(frame.copy["src_rect"], ordered_json(e.src));
    EXPECT_EQ(frame.copy["dst_rect"], ordered_json(e.dst));
  }
}

TEST_F(AnimationTest, KeyedPercentScrubsTheChosenLayerAndAHoldKeyFreezesIt) {
  // 0 % to 100 % over the first two seconds, then held at 40 % from 3 s.
  Animate({{controls::kLayer, kLandscape},
           {controls::kTimePercent, AnimatedValue({{0, 0}, {2, 100}, {3, 40, true}, {4, 60}})}});
  std::vector<A_long> frames;
  for (double t = 0; t <= 2.0; t += 0.25) frames.push_back(RenderAt(t).checkout["frame"].get<A_long>());
  EXPECT_EQ(frames.front(), 0);
  // The layer's last frame: 100 % of its duration less one frame.
  EXPECT_EQ(frames.back(), 299);
  for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_GT(frames[i], frames[i - 1]) << "frame " << i;
  // Held from 3 s to the next key: 40 % of 9.9667 s is 3.9867 s, frame 119.
  for (double t : {3.0, 3.4, 3.99}) EXPECT_EQ(RenderAt(t).checkout["frame"], 119) << "at " << t << " s";
  EXPECT_EQ(RenderAt(4.0).checkout["frame"], 179);  // 60 %
}

// Every call that takes a time gets the frame's own time at the host's
// step and scale: the pre-render's four checkouts and the input's
// declaration at the current time, the layer's stream value at the current
// time, the chosen layer's checkout at the converted time.
TEST_F(AnimationTest, TimesStepsAndScalesAreTheHosts) {
  Animate({{controls::kLayer, kLandscape}, {controls::kTimeType, controls::kSecond}, {controls::kTimeSec, 1.5}});
  ASSERT_EQ(host_.NewInData(0).time_step, kStep);
  const A_long now = 7 * kStep;
  ASSERT_EQ(session_.RenderFrame(now).error(), PF_Err_NONE);
  int timed = 0;
  for (const ordered_json& call : host_.trace().entries()) {
    if (!call.contains("call")) continue;
    const std::string name = call["call"];
    if (name == "checkout_param" || name == "checkout_layer") {
      ++timed;
      EXPECT_EQ(call["time_step"], kStep) << call.dump();
      EXPECT_EQ(call["time_scale"], kScale) << call.dump();
      const bool source = name == "checkout_param" && call["index"] == host_.DeclaredIndex(controls::kLayer);
      EXPECT_EQ(call["time"], source ? A_long{4500} : now) << call.dump();  // 1.5 s after the in-point at 0
    }
    if (name == "AEGP_GetNewStreamValue") {
      ++timed;
      EXPECT_EQ(call["time"], ordered_json({{"value", now}, {"scale", kScale}})) << call.dump();
    }
  }
  EXPECT_EQ(timed, 7);
}

// A composition-to-layer time that the host's 32-bit time cannot hold
// fails the frame with the reason in the trace, instead of wrapping round
// to another frame.
TEST_F(AnimationTest, ASourceTimeBeyondTheHostsTimeFailsTheFrame) {
  hostsim::CompositionModel comp = Composition();
  comp.layers[0].start = A_Time{-2000000000, kScale};  // the effect layer starts long before
  hostsim::EffectSettings settings;
  settings.on_layer = 1;
  settings.controls = {{controls::kLayer, kLandscape}, {controls::kTimeType, controls::kSecond},
                       {controls::kTimeSec, 500000.0}};
  host_.SetScene(comp, settings);
  const FrameResult frame = session_.RenderFrameAtCompTime(Seconds(1));
  EXPECT_EQ(frame.render, PF_Err_BAD_CALLBACK_PARAM);
  bool reason = false;
  for (const ordered_json& call : host_.trace().Calls("AEGP_ConvertCompToLayerTime")) {
    reason = reason || call.value("host_failure", std::string()).find("32-bit") != std::string::npos;
  }
  EXPECT_TRUE(reason);
  EXPECT_TRUE(NoMisuse(host_));
}

}  // namespace
