// The substitute host's own promises, which every other test leans on:
// polite module loading, exactly the suites a real host offers here, misuse
// noticed and traced, layer frames served at the right time, bounded string
// callbacks, and independent hosts on several threads.
#include <algorithm>
#include <cstring>
#include <sstream>
#include <thread>

#include "EffectFixture.h"
#include "Downsampled.h"
#include "SuiteTables.h"
#include "pixel_test_util.h"

namespace tovane_test {
namespace {

using hostsim::Host;
using hostsim::Module;
using hostsim::ModuleError;
using hostsim::Session;

// ---- Loading

TEST(ModuleLoadingTest, MissingFileIsNamedInTheError) {
  try {
    Module module("/nonexistent/TovaneParvolith.so");
    FAIL() << "loading a missing file succeeded";
  } catch (const ModuleError& error) {
    EXPECT_NE(std::string(error.what()).find("/nonexistent/TovaneParvolith.so"), std::string::npos) << error.what();
  }
}

#if !defined(_WIN32)
TEST(ModuleLoadingTest, LibraryWithoutEntryPointNamesFileAndSymbol) {
  try {
    Module module("libm.so.6");
    FAIL() << "a library without EntryPointFunc was accepted";
  } catch (const ModuleError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find("libm.so.6"), std::string::npos) << message;
    EXPECT_NE(message.find("EntryPointFunc"), std::string::npos) << message;
  }
}
#endif

TEST(ModuleLoadingTest, OtherExportsAreFoundByNameAndMissingOnesNamed) {
  const Module& module = EffectModule();
  EXPECT_NE(module.entry_point(), nullptr);
#if !defined(_WIN32)
  EXPECT_NE(module.FindSymbol("UnionLRect"), nullptr);
#endif
  EXPECT_EQ(module.FindSymbol("NoSuchExport"), nullptr);
  try {
    module.RequireFunction<void (*)()>("NoSuchExport");
    FAIL() << "a missing export was returned";
  } catch (const ModuleError& error) {
    EXPECT_NE(std::string(error.what()).find("NoSuchExport"), std::string::npos) << error.what();
  }
}

// ---- Commands

#if defined(TOVANE_THROWING_MODULE_PATH)
// A real host would crash or abort; this one fails the command and names
// what escaped, whatever it was.
TEST(EntryPointTest, AnExceptionThatEscapesFailsTheCommandAndIsNamed) {
  Module module(TOVANE_THROWING_MODULE_PATH);
  Host host(module);
  Session session(host);
  EXPECT_EQ(session.GlobalSetup(), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(session.About(), PF_Err_INTERNAL_STRUCT_DAMAGED) << "an exception with an empty message";
  host.trace().set_enabled(false);
  EXPECT_EQ(session.GlobalSetdown(), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(session.SendPlain(PF_Cmd_SEQUENCE_SETUP), PF_Err_NONE);
  EXPECT_EQ(host.errors(), (std::vector<std::string>{
                               "EntryPointFunc: exception escaped the entry point: no memory for the effect",
                               "EntryPointFunc: exception escaped the entry point: ",
                               "EntryPointFunc: exception escaped the entry point: an exception of unknown type"}));
  const auto& entries = host.trace().entries();
  ASSERT_EQ(entries.size(), 2u) << "only the traced commands";
  EXPECT_EQ(entries[0]["error"], "exception escaped the entry point: no memory for the effect");
  EXPECT_EQ(entries[1]["result"], PF_Err_INTERNAL_STRUCT_DAMAGED);
}
#endif

// ---- The basic suite

TEST(BasicSuiteTest, OffersExactlyTheKnownSuitesAtTheirVersions) {
  Host host(EffectModule());
  auto current = host.MakeCurrent();
  const SPBasicSuite* basic = hostsim::BasicSuiteTable();
  const std::pair<const char*, A_long> kOffered[] = {
      {"PF Handle Suite", 2},          {"AEGP Utility Suite", 7},     {"AEGP PF Interface Suite", 1},
      {"AEGP Effect Suite", 2},        {"AEGP Stream Suite", 9},      {"AEGP Dynamic Stream Suite", 5},
      {"AEGP Comp Suite", 15},         {"AEGP Layer Suite", 13},      {"DRAWBOT Draw Suite", 1},
      {"DRAWBOT Supplier Suite", 1},   {"DRAWBOT Surface Suite", 1},  {"DRAWBOT Path Suite", 1}};
  std::vector<const void*> tables;
  for (const auto& [name, version] : kOffered) {
    const void* suite = nullptr;
    EXPECT_EQ(basic->AcquireSuite(name, version, &suite), kSPNoError) << name;
    EXPECT_NE(suite, nullptr) << name;
    tables.push_back(suite);
  }
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(std::unique(tables.begin(), tables.end()), tables.end()) << "two suites share a table";
  EXPECT_EQ(host.holdings().suites_held(), 12);

  const std::pair<const char*, A_long> kRefused[] = {
      {"PF Handle Suite", 1}, {"AEGP Layer Suite", 12}, {"AEGP Stream Suite", 8}, {"AEGP Keyframe Suite", 4},
      {"pf handle suite", 2}, {"DRAWBOT Draw Suite", 2}};
  for (const auto& [name, version] : kRefused) {
    const void* suite = nullptr;
    EXPECT_NE(basic->AcquireSuite(name, version, &suite), kSPNoError) << name << " v" << version;
    EXPECT_EQ(suite, nullptr) << name << " v" << version;
  }
  for (const auto& [name, version] : kOffered) EXPECT_EQ(basic->ReleaseSuite(name, version), kSPNoError) << name;
  EXPECT_TRUE(HoldsNothing(host.holdings()));
  EXPECT_TRUE(NoMisuse(host));
}

TEST(BasicSuiteTest, ReleasingWhatWasNotAcquiredIsNoticed) {
  Host host(EffectModule());
  auto current = host.MakeCurrent();
  EXPECT_NE(hostsim::BasicSuiteTable()->ReleaseSuite("PF Handle Suite", 2), kSPNoError);
  ASSERT_EQ(host.errors().size(), 1u);
  EXPECT_NE(host.errors()[0].find("ReleaseSuite"), std::string::npos);
  EXPECT_TRUE(host.trace().Calls("ReleaseSuite").at(0).contains("error"));
}

// ---- Checked handles and references

TEST(MisuseTest, ForeignHandleComingBackIsRecordedNotFollowed) {
  Host host(EffectModule());
  Session session(host);
  void* bytes = nullptr;
  PF_Handle forged = &bytes;  // looks like a handle, was never handed out
  session.set_record_hook([&](PF_Cmd, PF_InData& in, PF_OutData&) { in.global_data = forged; });
  EXPECT_EQ(session.GlobalSetdown(), PF_Err_NONE);
  ASSERT_EQ(host.errors().size(), 1u);
  EXPECT_EQ(host.errors()[0], "host_dispose_handle: unknown handle");
  const auto disposes = host.trace().Calls("host_dispose_handle");
  ASSERT_EQ(disposes.size(), 1u);
  EXPECT_EQ(disposes[0]["error"], "unknown handle");
}

TEST(MisuseTest, ForeignEffectReferenceIsRefused) {
  Host host(EffectModule());
  Session session(host);
  char other_instance = 0;
  session.set_record_hook([&](PF_Cmd, PF_InData& in, PF_OutData&) {
    in.effect_ref = reinterpret_cast<PF_ProgPtr>(&other_instance);
  });
  EXPECT_EQ(session.ParamsSetup(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(host.declared_params().empty());
  ASSERT_FALSE(host.errors().empty());
  EXPECT_EQ(host.errors()[0], "add_param: foreign effect reference");
}

// ---- Faults

TEST(FaultPlanTest, NthCallCountsFromWhenTheRuleIsMadeAndEveryCallFailsAll) {
  hostsim::FaultPlan plan;
  EXPECT_FALSE(plan.OnCall("copy"));
  plan.FailCall("copy", 2, 7);
  EXPECT_FALSE(plan.OnCall("copy"));
  EXPECT_EQ(plan.OnCall("copy"), 7);
  EXPECT_FALSE(plan.OnCall("copy"));
  EXPECT_FALSE(plan.OnCall("checkout_param"));
  plan.FailCall("checkout_param", hostsim::FaultPlan::kEveryCall, 9);
  EXPECT_EQ(plan.OnCall("checkout_param"), 9);
  EXPECT_EQ(plan.OnCall("checkout_param"), 9);
  plan.Clear();
  EXPECT_FALSE(plan.OnCall("checkout_param"));
  // A rule no call could ever fire is a mistake in the test, not a fault.
  EXPECT_THROW(plan.FailCall("AEGP_GetLayerInpoint", 1), std::invalid_argument);
  EXPECT_THROW(plan.FailCall("host_unlock_handle", 1), std::invalid_argument);
}

// ---- Bounded string callbacks

TEST(StringCallbackTest, FormattingAndNameCopyingStopAtTheHostsBufferSizes) {
  Host host(EffectModule());
  auto current = host.MakeCurrent();
  const PF_InData in_data = host.NewInData(0);

  char message[PF_MAX_EFFECT_MSG_LEN + 1 + 16];
  std::memset(message, '#', sizeof(message));
  const std::string long_text(1000, 'x');
  in_data.utils->ansi.sprintf(message, "%s", long_text.c_str());
  EXPECT_EQ(std::strlen(message), static_cast<std::size_t>(PF_MAX_EFFECT_MSG_LEN));
  for (std::size_t i = PF_MAX_EFFECT_MSG_LEN + 1; i < sizeof(message); ++i) EXPECT_EQ(message[i], '#') << i;

  char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1 + 16];
  std::memset(name, '#', sizeof(name));
  in_data.utils->ansi.strcpy(name, long_text.c_str());
  EXPECT_EQ(std::strlen(name), static_cast<std::size_t>(PF_MAX_EFFECT_PARAM_NAME_LEN));
  for (std::size_t i = PF_MAX_EFFECT_PARAM_NAME_LEN + 1; i < sizeof(name); ++i) EXPECT_EQ(name[i], '#') << i;
  EXPECT_TRUE(host.trace().Calls("ansi.strcpy").at(0)["truncated"].get<bool>());
}

// A module may format a message on a thread of its own, outside any command.
TEST(StringCallbackTest, WithNoCommandRunningTheyStillFormatAndCopy) {
  Host host(EffectModule());
  PF_InData in_data;
  {
    auto current = host.MakeCurrent();
    in_data = host.NewInData(0);
  }
  char message[PF_MAX_EFFECT_MSG_LEN + 1];
  EXPECT_EQ(in_data.utils->ansi.sprintf(message, "%d frames", 12), 9);
  EXPECT_STREQ(message, "12 frames");
  char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
  EXPECT_EQ(in_data.utils->ansi.strcpy(name, "Layer"), name);
  EXPECT_STREQ(name, "Layer");
  EXPECT_TRUE(host.trace().entries().empty());
}

// ---- Rendering side

class RenderServiceTest : public EffectTest {
 protected:
  void SetUp() override { SetUpEffectWithScene(); }

  // The checkout of "Layer" in the most recent render pass.
  nlohmann::ordered_json LayerCheckout() const {
    for (const auto& call : host_.trace().CallsOfLastCommand()) {
      if (call["call"] == "checkout_param" && call["index"] == 2) return call;
    }
    return nullptr;
  }
};

// The host keeps the parts of the input record that stay put between
// commands; a new resolution, scene or effect layer must still show in the
// next one.
TEST_F(RenderServiceTest, InputRecordFollowsResolutionSceneAndEffectLayer) {
  const hostsim::CompositionModel& comp = host_.composition();
  ASSERT_GE(comp.layers.size(), 2u);
  const hostsim::LayerModel& other = comp.layers[0].id == host_.settings().on_layer ? comp.layers[1] : comp.layers[0];
  ASSERT_NE(other.width, host_.layer_width());

  PF_InData in_data = host_.NewInData(7);
  EXPECT_EQ(in_data.current_time, 7);
  EXPECT_EQ(in_data.width, host_.layer_width());

  host_.SetDownsample({1, 2}, {1, 4});
  in_data = host_.NewInData(8);
  EXPECT_EQ(in_data.downsample_x.den, 2u);
  EXPECT_EQ(in_data.extent_hint.right, hostsim::Downsampled(host_.layer_width(), {1, 2}));
  EXPECT_EQ(in_data.extent_hint.bottom, hostsim::Downsampled(host_.layer_height(), {1, 4}));

  host_.settings().on_layer = other.id;
  in_data = host_.NewInData(9);
  EXPECT_EQ(in_data.width, other.width);
  EXPECT_EQ(in_data.height, other.height);

  hostsim::CompositionModel finer = comp;
  finer.time_scale = 600;
  finer.frame_rate = 60.0;
  host_.SetScene(finer, host_.settings());
  in_data = host_.NewInData(10);
  EXPECT_EQ(in_data.time_scale, 600u);
  EXPECT_EQ(in_data.time_step, 10);
}

TEST_F(RenderServiceTest, InputRequestIsAnsweredClippedToTheDownsampledLayer) {
  host_.SetDownsample({1, 2}, {1, 2});
  auto pre_render = host_.AsIfIn(PF_Cmd_SMART_PRE_RENDER);
  const PF_InData in_data = host_.NewInData(0);
  PF_RenderRequest request{};
  request.rect = PF_LRect{-10, -20, 5000, 300};
  PF_CheckoutResult result{};
  ASSERT_EQ(host_.pre_render_callbacks()->checkout_layer(in_data.effect_ref, 0, 0, &request, 0, 1, 30, &result),
            PF_Err_NONE);
  EXPECT_EQ(result.result_rect.left, 0);
  EXPECT_EQ(result.result_rect.top, 0);
  EXPECT_EQ(result.result_rect.right, 960);
  EXPECT_EQ(result.result_rect.bottom, 300);
  EXPECT_EQ(std::memcmp(&result.max_result_rect, &result.result_rect, sizeof(PF_LRect)), 0);
}

TEST_F(RenderServiceTest, ChosenLayerFrameFollowsCompositionTimeAcrossLayerStarts) {
  // The effect layer starts 1 s into the composition, the chosen layer's own
  // time 0 sits at 0.5 s; "Second" 1.5 after the in-point at 2 s is
  // composition time 3.5 s, the chosen layer's 3.0 s, its frame 90.
  hostsim::CompositionModel comp = TwoLayerComposition();
  comp.layers[0].start = A_Time{30, 30};
  comp.layers[1].start = A_Time{15, 30};
  hostsim::EffectSettings settings = ChooseSecondLayer();
  settings.controls[controls::kTimeType] = 2;
  settings.controls[controls::kTimeSec] = 1.5;
  host_.SetScene(comp, settings);
  host_.SetDownsample({1, 4}, {1, 4});

  const hostsim::FrameResult frame = session_.RenderFrame(0);
  ASSERT_EQ(frame.error(), PF_Err_NONE);
  const auto checkout = LayerCheckout();
  ASSERT_FALSE(checkout.is_null());
  EXPECT_EQ(checkout["time"], 75);  // 3.5 s less the effect layer's 1 s start, at 30 per second
  EXPECT_EQ(checkout["time_scale"], 30);
  EXPECT_EQ(checkout["layer"], 2);
  EXPECT_EQ(checkout["frame"], 90);
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command()));
  EXPECT_TRUE(NoMisuse(host_));
}

TEST_F(RenderServiceTest, NoPixelsOutsideTheChosenLayersShownTime) {
  host_.settings().controls[controls::kTimeType] = 2;
  host_.settings().controls[controls::kTimeSec] = 10.0;  // 12 s: the layer's out-point, no longer shown
  host_.SetDownsample({1, 4}, {1, 4});
  const hostsim::FrameResult frame = session_.RenderFrame(0);
  ASSERT_EQ(frame.error(), PF_Err_NONE);
  const auto checkout = LayerCheckout();
  ASSERT_FALSE(checkout.is_null());
  EXPECT_EQ(checkout["layer"], 2);
  EXPECT_TRUE(checkout["frame"].is_null());
  // Without pixels the input is passed through whole.
  const auto copies = host_.trace().Calls("copy");
  ASSERT_FALSE(copies.empty());
  EXPECT_TRUE(copies.back()["src_rect"].is_null());
  EXPECT_TRUE(copies.back()["dst_rect"].is_null());
  EXPECT_TRUE(NoMisuse(host_));
}

TEST_F(RenderServiceTest, TraceIsOneJsonObjectPerLineWithNamedArguments) {
  host_.SetDownsample({1, 4}, {1, 4});
  ASSERT_EQ(session_.RenderFrame(90).error(), PF_Err_NONE);
  std::ostringstream lines;
  host_.trace().WriteJsonLines(lines);
  std::istringstream in(lines.str());
  std::string line;
  int commands = 0;
  while (std::getline(in, line)) {
    const auto entry = nlohmann::ordered_json::parse(line);
    ASSERT_TRUE(entry.contains("call") != entry.contains("command")) << line;
    ASSERT_TRUE(entry.contains("result")) << line;
    if (entry.contains("command")) ++commands;
    if (entry.value("call", "") == "copy") {
      for (const char* rect : {"src_rect", "dst_rect"}) {
        EXPECT_TRUE(entry[rect].is_null() || entry[rect].size() == 4) << line;
      }
    }
    if (entry.value("call", "") == "checkout_layer") {
      EXPECT_EQ(entry["rect"].size(), 4u) << line;
      EXPECT_TRUE(entry.contains("preserve_rgb_of_zero_alpha")) << line;
    }
  }
  EXPECT_EQ(commands, 4);  // global setup, params setup, pre-render, render
}

TEST_F(RenderServiceTest, TracingOffRecordsNothingButStillNoticesMisuse) {
  host_.trace().Clear();
  host_.trace().set_enabled(false);
  host_.SetDownsample({1, 4}, {1, 4});
  ASSERT_EQ(session_.RenderFrame(90).error(), PF_Err_NONE);
  EXPECT_TRUE(host_.trace().entries().empty());
  auto current = host_.MakeCurrent();
  hostsim::BasicSuiteTable()->ReleaseSuite("AEGP Comp Suite", 15);
  EXPECT_EQ(host_.errors().size(), 1u);
}

// Every host function is compiled once for traced and once for untraced
// calls; both must answer alike, failures included.
TEST_F(RenderServiceTest, UntracedCallsAnswerAsTracedOnes) {
  host_.SetDownsample({1, 4}, {1, 4});
  const hostsim::FrameResult traced = session_.RenderFrame(90);
  ASSERT_EQ(traced.error(), PF_Err_NONE);
  ASSERT_NE(traced.output, nullptr);
  const std::string traced_held = host_.held_after_last_command().Describe();
  host_.faults().FailCall("checkout_layer_pixels", hostsim::FaultPlan::kEveryCall, PF_Err_OUT_OF_MEMORY);
  const PF_Err traced_failure = session_.RenderFrame(90).error();
  host_.faults().Clear();

  host_.trace().set_enabled(false);
  const hostsim::FrameResult untraced = session_.RenderFrame(90);
  ASSERT_EQ(untraced.error(), PF_Err_NONE);
  ASSERT_NE(untraced.output, nullptr);
  EXPECT_EQ(hostsim::testing::FirstDifference(*traced.output, *untraced.output), "");
  EXPECT_EQ(host_.held_after_last_command().Describe(), traced_held);
  host_.faults().FailCall("checkout_layer_pixels", hostsim::FaultPlan::kEveryCall, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(session_.RenderFrame(90).error(), traced_failure);
  EXPECT_NE(traced_failure, PF_Err_NONE);
  EXPECT_TRUE(NoMisuse(host_));
}

// ---- Threads

TEST(ThreadsTest, SeveralHostsDriveOneModuleAtOnce) {
  constexpr int kThreads = 4;
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      Host host(EffectModule());
      Session session(host);
      hostsim::EffectSettings settings = ChooseSecondLayer();
      settings.controls[controls::kMode] = 1 + t % 4;
      host.SetScene(TwoLayerComposition(), settings);
      host.SetDownsample({1, 8}, {1, 8});
      std::ostringstream problems;
      if (session.GlobalSetup() != PF_Err_NONE) problems << "global setup failed; ";
      if (session.ParamsSetup() != PF_Err_NONE) problems << "params setup failed; ";
      for (int frame = 0; frame < 6; ++frame) {
        if (session.UpdateParamsUI(controls::kTimeType, 1 + frame % 2) != PF_Err_NONE) problems << "update failed; ";
        if (session.RenderFrame(60 + frame * 15).error() != PF_Err_NONE) problems << "frame failed; ";
      }
      if (session.GlobalSetdown() != PF_Err_NONE) problems << "setdown failed; ";
      if (!host.holdings().Empty()) problems << "held: " << host.holdings().Describe();
      for (const std::string& error : host.errors()) problems << error << "; ";
      // Each host saw only its own commands: 2 + 6 * 3 + 1.
      int commands = 0;
      for (const auto& entry : host.trace().entries()) commands += entry.contains("command") ? 1 : 0;
      if (commands != 21) problems << commands << " commands traced; ";
      failures[t] = problems.str();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

}  // namespace
}  // namespace tovane_test
