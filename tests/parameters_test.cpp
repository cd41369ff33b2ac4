// The five controls the effect declares at params setup, exactly as saved
// projects know them, and what happens when the host refuses one.
#include <cmath>
#include <cstring>

#include "EffectFixture.h"

namespace tovane_test {
namespace {

class ParametersTest : public EffectTest {
 protected:
  // The declaration of one control, by its index (1 to 5).
  const PF_ParamDef& Declared(PF_ParamIndex index) const { return host_.declared_params().at(index - 1); }

  // The bytes of a declaration with the given fields cleared must all be zero:
  // nothing may be left over from the control declared before it.
  static void ExpectZeroBeyond(const PF_ParamDef& def, PF_ParamDef expected_cleared) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&def);
    const auto* mask = reinterpret_cast<const unsigned char*>(&expected_cleared);
    for (std::size_t i = 0; i < sizeof(def); ++i) {
      if (mask[i] == 0) {
        EXPECT_EQ(bytes[i], 0) << "\"" << def.name << "\": stray byte at offset " << i;
      }
    }
  }
};

// The fields a declaration may set, marked non-zero; everything else must be zero.
PF_ParamDef CommonFields() {
  PF_ParamDef mask;
  std::memset(&mask, 0, sizeof(mask));
  mask.uu.id = -1;
  mask.param_type = -1;
  std::memset(mask.name, 0xFF, sizeof(mask.name));
  mask.flags = -1;
  return mask;
}

TEST_F(ParametersTest, FiveControlsInSavedOrderWithIdsAndCollapsedFlag) {
  SetUpEffect();
  EXPECT_EQ(session_.out_data().num_params, 6);
  ASSERT_EQ(host_.declared_params().size(), 5u);
  const char* kNames[] = {"Mode", "Layer", "Time Type", "Time(%)", "Time(sec)"};
  const PF_ParamType kTypes[] = {PF_Param_POPUP, PF_Param_LAYER, PF_Param_POPUP, PF_Param_FIX_SLIDER,
                                 PF_Param_FLOAT_SLIDER};
  for (PF_ParamIndex i = 1; i <= 5; ++i) {
    const PF_ParamDef& def = Declared(i);
    EXPECT_STREQ(def.name, kNames[i - 1]);
    EXPECT_EQ(def.param_type, kTypes[i - 1]) << kNames[i - 1];
    EXPECT_EQ(def.uu.id, i) << kNames[i - 1];
    EXPECT_EQ(def.flags, PF_ParamFlag_START_COLLAPSED) << kNames[i - 1];
    EXPECT_EQ(def.ui_flags, 0) << kNames[i - 1];
  }
  // Every control was appended, and every name copied through the host.
  for (const auto& add : host_.trace().Calls("add_param")) EXPECT_EQ(add["index"], -1);
  EXPECT_EQ(host_.trace().Calls("ansi.strcpy").size(), 5u);
  EXPECT_TRUE(NoMisuse(host_));
}

TEST_F(ParametersTest, PopupsStartAtWholeAndPercent) {
  SetUpEffect();
  const PF_ParamDef& mode = Declared(1);
  EXPECT_EQ(mode.u.pd.num_choices, 4);
  EXPECT_EQ(mode.u.pd.dephault, 2);
  EXPECT_EQ(mode.u.pd.value, 2);
  ASSERT_NE(mode.u.pd.u.namesptr, nullptr);
  EXPECT_STREQ(mode.u.pd.u.namesptr, "Center|Whole|No Margin|Fit to Layer");

  const PF_ParamDef& time_type = Declared(3);
  EXPECT_EQ(time_type.u.pd.num_choices, 2);
  EXPECT_EQ(time_type.u.pd.dephault, 1);
  EXPECT_EQ(time_type.u.pd.value, 1);
  ASSERT_NE(time_type.u.pd.u.namesptr, nullptr);
  EXPECT_STREQ(time_type.u.pd.u.namesptr, "Percent|Second");

  for (PF_ParamIndex index : {1, 3}) {
    PF_ParamDef mask = CommonFields();
    mask.u.pd.value = -1;
    mask.u.pd.num_choices = -1;
    mask.u.pd.dephault = -1;
    std::memset(&mask.u.pd.u, 0xFF, sizeof(mask.u.pd.u));
    ExpectZeroBeyond(Declared(index), mask);
  }
}

TEST_F(ParametersTest, LayerControlStartsWithNoLayer) {
  SetUpEffect();
  const PF_ParamDef& layer = Declared(2);
  EXPECT_EQ(layer.u.ld.dephault, PF_LayerDefault_NONE);
  ExpectZeroBeyond(layer, CommonFields());
}

TEST_F(ParametersTest, PercentSliderSpansZeroToHundredInFixedPoint) {
  SetUpEffect();
  const PF_FixedSliderDef& fd = Declared(4).u.fd;
  EXPECT_EQ(fd.valid_min, 0);
  EXPECT_EQ(fd.valid_max, 6553600);  // 100.0 in 16.16
  EXPECT_EQ(fd.slider_min, 0);
  EXPECT_EQ(fd.slider_max, 6553600);
  EXPECT_EQ(fd.dephault, 0);
  EXPECT_EQ(fd.value, 0);
  EXPECT_EQ(fd.precision, 2);
  EXPECT_EQ(fd.display_flags, PF_ValueDisplayFlag_PERCENT);

  PF_ParamDef mask = CommonFields();
  mask.u.fd.valid_max = -1;
  mask.u.fd.slider_max = -1;
  mask.u.fd.precision = -1;
  mask.u.fd.display_flags = -1;
  ExpectZeroBeyond(Declared(4), mask);
}

TEST_F(ParametersTest, SecondsSliderShowsTwentyButAcceptsAMillion) {
  SetUpEffect();
  const PF_FloatSliderDef& fs = Declared(5).u.fs_d;
  EXPECT_EQ(fs.valid_min, 0.0f);
  EXPECT_EQ(fs.valid_max, 1000000.0f);
  EXPECT_EQ(fs.slider_min, 0.0f);
  EXPECT_EQ(fs.slider_max, 20.0f);
  EXPECT_EQ(fs.dephault, 0.0f);
  EXPECT_EQ(fs.value, 0.0);
  EXPECT_EQ(fs.precision, 2);
  EXPECT_EQ(fs.display_flags, 0);
  EXPECT_EQ(fs.fs_flags, 0u);
  EXPECT_EQ(fs.curve_tolerance, 0.05f);

  PF_ParamDef mask = CommonFields();
  std::memset(&mask.u.fs_d.valid_max, 0xFF, sizeof(mask.u.fs_d.valid_max));
  std::memset(&mask.u.fs_d.slider_max, 0xFF, sizeof(mask.u.fs_d.slider_max));
  mask.u.fs_d.precision = -1;
  std::memset(&mask.u.fs_d.curve_tolerance, 0xFF, sizeof(mask.u.fs_d.curve_tolerance));
  ExpectZeroBeyond(Declared(5), mask);
}

TEST_F(ParametersTest, RefusedControlStopsTheDeclarationWithTheHostsCode) {
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  session_.set_record_hook([](PF_Cmd, PF_InData&, PF_OutData& out) { out.num_params = 77; });
  constexpr PF_Err kRefused = 1234;
  host_.faults().FailCall("add_param", 3, kRefused);  // "Time Type"

  EXPECT_EQ(session_.ParamsSetup(), kRefused);
  ASSERT_EQ(host_.declared_params().size(), 2u);
  EXPECT_STREQ(host_.declared_params()[0].name, "Mode");
  EXPECT_STREQ(host_.declared_params()[1].name, "Layer");
  EXPECT_EQ(host_.trace().Calls("add_param").size(), 3u) << "no control may be added after the refusal";
  EXPECT_EQ(session_.out_data().num_params, 77) << "the count must not be written after a failure";

  session_.set_record_hook(nullptr);
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
  EXPECT_TRUE(HoldsNothing(host_.holdings()));
}

TEST_F(ParametersTest, ValuesCheckedOutMatchTheSettingsTheHostHolds) {
  // The render passes read the controls back through checkout_param; the
  // percent slider travels as rounded 16.16.
  host_.settings().controls[controls::kTimePercent] = 37.5;
  host_.settings().controls[controls::kTimeSec] = 1.25;
  host_.settings().controls[controls::kMode] = 3;
  SetUpEffect();
  EXPECT_EQ(host_.ParamValue(4).u.fd.value, static_cast<PF_Fixed>(std::lround(37.5 * 65536)));
  EXPECT_EQ(host_.ParamValue(5).u.fs_d.value, 1.25);
  EXPECT_EQ(host_.ParamValue(1).u.pd.value, 3);
  EXPECT_STREQ(host_.ParamValue(1).name, "Mode");
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
}

// The host knows the controls only from what the module declared: a value
// the settings leave out is the declared default, a name the module never
// declared is reported (so a scene naming it can be refused), and an index
// past the declared ones is no parameter at all.
TEST_F(ParametersTest, ControlsAreKnownOnlyByTheirDeclaration) {
  host_.settings().controls = {{controls::kMode, controls::kCenter}, {"Speed", 2}};
  EXPECT_FALSE(host_.ControlValue(controls::kMode)) << "nothing is declared before params setup";
  SetUpEffect();
  EXPECT_EQ(host_.UndeclaredControls(), std::vector<std::string>{"Speed"});
  EXPECT_EQ(host_.ControlValue(controls::kMode), controls::kCenter);
  EXPECT_EQ(host_.ControlValue(controls::kTimeType), controls::kPercent) << "the declared default";
  EXPECT_EQ(host_.ControlValue(controls::kLayer), 0.0) << "no layer chosen by default";
  EXPECT_FALSE(host_.ControlValue("Speed"));

  const auto declared = static_cast<PF_ParamIndex>(host_.declared_params().size());
  auto render = host_.AsIfIn(PF_Cmd_SMART_RENDER);
  const PF_InData in_data = host_.NewInData(0);
  EXPECT_EQ(in_data.num_params, declared + 1) << "the input layer and every declared parameter";
  PF_ParamDef param;
  std::memset(&param, 0, sizeof(param));
  EXPECT_EQ(in_data.inter.checkout_param(in_data.effect_ref, declared + 1, 0, 1, 30, &param), PF_Err_INVALID_INDEX);
  EXPECT_EQ(host_.holdings().checked_out_params, 0);
}

}  // namespace
}  // namespace tovane_test
