#include "EffectFixture.h"

#include <algorithm>
#include <memory>

#include "pixels/PixelSource.h"

namespace tovane_test {

const hostsim::Module& EffectModule() {
  static const hostsim::Module module(TOVANE_MODULE_PATH);
  return module;
}

hostsim::CompositionModel TwoLayerComposition() {
  hostsim::CompositionModel comp;
  comp.width = 1920;
  comp.height = 1080;
  comp.frame_rate = 30.0;
  comp.time_scale = 30;

  hostsim::LayerModel effect_layer;
  effect_layer.id = 1;
  effect_layer.name = "effect layer";
  effect_layer.width = 1920;
  effect_layer.height = 1080;
  effect_layer.in_point = A_Time{0, 30};
  effect_layer.duration = A_Time{600, 30};
  effect_layer.source = std::make_shared<hostsim::CheckerSource>(64, 1920, 1080);

  hostsim::LayerModel chosen;
  chosen.id = 2;
  chosen.name = "chosen layer";
  chosen.width = 1280;
  chosen.height = 720;
  chosen.in_point = A_Time{60, 30};
  chosen.duration = A_Time{300, 30};
  chosen.source = std::make_shared<hostsim::FrameCardSource>("chosen");

  comp.layers = {effect_layer, chosen};
  return comp;
}

hostsim::EffectSettings ChooseSecondLayer() {
  hostsim::EffectSettings settings;
  settings.on_layer = 1;
  settings.controls = {{controls::kLayer, 2}, {controls::kMode, controls::kWhole}};
  return settings;
}

void EffectTest::SetUpEffect() {
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(session_.ParamsSetup(), PF_Err_NONE);
}

void EffectTest::SetUpEffectWithScene() {
  host_.SetScene(TwoLayerComposition(), ChooseSecondLayer());
  SetUpEffect();
}

::testing::AssertionResult HoldsNothing(const hostsim::Holdings& held) {
  if (held.Empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the module still holds:\n" << held.Describe();
}

::testing::AssertionResult HoldsOnlyHostKeptHandles(const hostsim::Holdings& held) {
  if (held.NothingButHostKeptHandles()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the module still holds:\n" << held.Describe();
}

::testing::AssertionResult NoMisuse(const hostsim::Host& host) {
  if (host.errors().empty()) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "the host noticed:";
  for (const std::string& error : host.errors()) failure << "\n  " << error;
  return failure;
}

int Count(const std::vector<std::string>& calls, const std::string& name) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

}  // namespace tovane_test
