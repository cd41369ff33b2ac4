// The protocol the host enforces on any module: which commands may call
// which host functions, and the order in which references are disposed of.
// A module that breaks either is reported as misusing the host, the call is
// refused, and nothing the host holds for it goes astray.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "EffectFixture.h"
#include "SuiteTables.h"

namespace tovane_test {
namespace {

using hostsim::Host;

class ProtocolTest : public EffectTest {
 protected:
  void SetUp() override {
    SetUpEffect();
    in_data_ = host_.NewInData(0);
  }

  // The misuse the most recent refused call left, or "" when none.
  std::string LastMisuse() const { return host_.errors().empty() ? std::string() : host_.errors().back(); }

  PF_InData in_data_{};
};

TEST_F(ProtocolTest, FunctionsOfOneCommandAreRefusedInEveryOther) {
  const std::size_t declared = host_.declared_params().size();
  PF_ParamDef def;
  std::memset(&def, 0, sizeof(def));
  def.param_type = PF_Param_CHECKBOX;
  {
    auto render = host_.AsIfIn(PF_Cmd_SMART_RENDER);
    EXPECT_EQ(in_data_.inter.add_param(in_data_.effect_ref, -1, &def), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(LastMisuse(), "add_param: called in smart render; allowed only in params setup");

    PF_RenderRequest request{};
    PF_CheckoutResult result{};
    EXPECT_EQ(host_.pre_render_callbacks()->checkout_layer(in_data_.effect_ref, 0, 0, &request, 0, 1, 30, &result),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(LastMisuse(), "checkout_layer: called in smart render; allowed only in smart pre-render");
  }
  {
    auto pre_render = host_.AsIfIn(PF_Cmd_SMART_PRE_RENDER);
    PF_EffectWorld* world = nullptr;
    EXPECT_EQ(host_.smart_render_callbacks()->checkout_output(in_data_.effect_ref, &world), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(world, nullptr);
    EXPECT_EQ(LastMisuse(), "checkout_output: called in smart pre-render; allowed only in smart render");
    EXPECT_EQ(host_.smart_render_callbacks()->checkout_layer_pixels(in_data_.effect_ref, 0, &world),
              PF_Err_BAD_CALLBACK_PARAM);
  }
  {
    auto update = host_.AsIfIn(PF_Cmd_UPDATE_PARAMS_UI);
    EXPECT_EQ(host_.smart_render_callbacks()->checkin_layer_pixels(in_data_.effect_ref, 0), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(LastMisuse(), "checkin_layer_pixels: called in command 14; allowed only in smart render");
  }
  {
    // Outside any command, as from a thread the module kept running.
    auto current = host_.MakeCurrent();
    EXPECT_EQ(in_data_.inter.add_param(in_data_.effect_ref, -1, &def), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(LastMisuse(), "add_param: called in no command; allowed only in params setup");
  }
  EXPECT_EQ(host_.declared_params().size(), declared) << "a refused add_param declared a parameter";
  EXPECT_EQ(host_.errors().size(), 6u);
  // The refusal is in the trace too, under the function's name.
  const auto outputs = host_.trace().Calls("checkout_output");
  ASSERT_EQ(outputs.size(), 1u);
  EXPECT_EQ(outputs[0]["result"], PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(outputs[0].contains("error"));
  // A refusal is no fault of the plan's: no rule is spent on it.
  host_.faults().FailCall("add_param", 1, 7);
  {
    auto current = host_.MakeCurrent();
    in_data_.inter.add_param(in_data_.effect_ref, -1, &def);
  }
  EXPECT_EQ(host_.faults().OnCall("add_param"), 7);
}

// Each reference is disposed of once, and after everything obtained through
// it: a stream value before its stream, a stream before its effect.
TEST_F(ProtocolTest, ReferencesAreDisposedOnceAndAfterWhatDependsOnThem) {
  auto update = host_.AsIfIn(PF_Cmd_UPDATE_PARAMS_UI);
  const SPBasicSuite* basic = in_data_.pica_basicP;
  const void* utility = nullptr;
  const void* pf_interface = nullptr;
  const void* effects = nullptr;
  const void* streams_table = nullptr;
  ASSERT_EQ(basic->AcquireSuite(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7, &utility), kSPNoError);
  ASSERT_EQ(basic->AcquireSuite(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &pf_interface), kSPNoError);
  ASSERT_EQ(basic->AcquireSuite(kAEGPEffectSuite, kAEGPEffectSuiteVersion2, &effects), kSPNoError);
  ASSERT_EQ(basic->AcquireSuite(kAEGPStreamSuite, kAEGPStreamSuiteVersion9, &streams_table), kSPNoError);
  const auto* streams = static_cast<const AEGP_StreamSuite9*>(streams_table);
  const auto* effect_suite = static_cast<const AEGP_EffectSuite2*>(effects);

  AEGP_PluginID plugin = 0;
  ASSERT_EQ(static_cast<const AEGP_UtilitySuite7*>(utility)->AEGP_RegisterWithAEGP(nullptr, "protocol", &plugin),
            PF_Err_NONE);
  AEGP_EffectRefH effect = nullptr;
  ASSERT_EQ(static_cast<const AEGP_PFInterfaceSuite1*>(pf_interface)
                ->AEGP_GetNewEffectForEffect(plugin, in_data_.effect_ref, &effect),
            PF_Err_NONE);
  AEGP_StreamRefH stream = nullptr;
  ASSERT_EQ(streams->AEGP_GetNewEffectStreamByIndex(plugin, effect, host_.DeclaredIndex(controls::kTimePercent),
                                                    &stream),
            PF_Err_NONE);
  AEGP_StreamValue2 value{};
  const A_Time now{0, 30};
  ASSERT_EQ(streams->AEGP_GetNewStreamValue(plugin, stream, AEGP_LTimeMode_LayerTime, &now, false, &value),
            PF_Err_NONE);
  ASSERT_TRUE(NoMisuse(host_));

  EXPECT_EQ(effect_suite->AEGP_DisposeEffect(effect), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(LastMisuse(), "AEGP_DisposeEffect: effect reference disposed while a stream made from it is live");
  EXPECT_EQ(streams->AEGP_DisposeStream(stream), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(LastMisuse(), "AEGP_DisposeStream: stream disposed while a value read from it is live");
  EXPECT_EQ(host_.holdings().effect_refs, 1) << "a refused disposal disposed of the reference";
  EXPECT_EQ(host_.holdings().stream_refs, 1);

  // In order, each once.
  const std::size_t breaches = host_.errors().size();
  EXPECT_EQ(streams->AEGP_DisposeStreamValue(&value), PF_Err_NONE);
  EXPECT_EQ(streams->AEGP_DisposeStream(stream), PF_Err_NONE);
  EXPECT_EQ(effect_suite->AEGP_DisposeEffect(effect), PF_Err_NONE);
  EXPECT_EQ(host_.errors().size(), breaches);
  EXPECT_EQ(streams->AEGP_DisposeStream(stream), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(LastMisuse(), "AEGP_DisposeStream: unknown stream reference");
  EXPECT_EQ(effect_suite->AEGP_DisposeEffect(effect), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(LastMisuse(), "AEGP_DisposeEffect: unknown effect reference");

  for (const auto& [name, version] : {std::pair{kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7},
                                      {kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1},
                                      {kAEGPEffectSuite, kAEGPEffectSuiteVersion2},
                                      {kAEGPStreamSuite, kAEGPStreamSuiteVersion9}}) {
    EXPECT_EQ(basic->ReleaseSuite(name, version), kSPNoError) << name;
  }
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings()));
}

}  // namespace
}  // namespace tovane_test
