// What every test that drives the effect needs: the built module loaded once
// per process, a Host and a Session over it, a small scene to render, and
// assertions that name what was left held or misused.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Session.h"
#include "EffectControls.h"

namespace controls = hostsim::controls;

namespace tovane_test {

// The module this build produced, loaded on first use and kept for the
// process (several Hosts may share it, also across threads).
const hostsim::Module& EffectModule();

// A composition with the effect on layer 1 (1920 x 1080, a checker) and a
// second layer 2 (1280 x 720 frame cards, 30 fps, in-point 2 s, 10 s long,
// starting at 0) that "Layer" chooses. The settings choose "Whole".
hostsim::CompositionModel TwoLayerComposition();
hostsim::EffectSettings ChooseSecondLayer();

// A Host and a Session over the shared module.
class EffectTest : public ::testing::Test {
 protected:
  EffectTest() : host_(EffectModule()), session_(host_) {}

  // Global setup and params setup, both expected to succeed.
  void SetUpEffect();
  // The same, and the two-layer scene.
  void SetUpEffectWithScene();

  // Names of the host calls the most recent command made, in order.
  std::vector<std::string> CallsOfLastCommand() const { return host_.trace().CallNamesOfLastCommand(); }

  hostsim::Host host_;
  hostsim::Session session_;
};

// Success when the module holds nothing at all.
::testing::AssertionResult HoldsNothing(const hostsim::Holdings& held);
// Success when the module holds nothing but the handles the host keeps for
// it (its global data, pre-render data not yet freed).
::testing::AssertionResult HoldsOnlyHostKeptHandles(const hostsim::Holdings& held);
// Success when the host noticed no misuse.
::testing::AssertionResult NoMisuse(const hostsim::Host& host);

// Number of entries in `calls` equal to `name`.
int Count(const std::vector<std::string>& calls, const std::string& name);

}  // namespace tovane_test
