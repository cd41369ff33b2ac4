// Scene files: a full scene is read as written, and every malformed field is
// refused with its path so the person can find it.
#include "SceneFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include <nlohmann/json.hpp>

#include "ImageIO.h"
#include "PixelSource.h"
#include "pixel_test_util.h"

namespace hostsim {
namespace {

namespace controls = hostsim::controls;

using Json = nlohmann::json;

Json ValidScene() {
  return Json::parse(R"({
    "composition": {"width": 1920, "height": 1080, "frame_rate": 30, "time_scale": 30},
    "layers": [
      {"id": 1, "name": "Target", "width": 1920, "height": 1080, "duration": 10, "source": {"type": "gradient"}},
      {"id": 7, "name": "Card", "width": 720, "height": 1280, "start": 1, "in_point": {"value": 60, "scale": 30},
       "duration": {"value": 300, "scale": 30}, "frame_rate": 24, "source": {"type": "frame_card"}},
      {"id": 9, "width": 64, "height": 64, "duration": 2, "source": {"type": "checker", "cell": 8}}
    ],
    "effect": {"on_layer": 1, "mode": "no margin", "layer": 7, "time_type": "Second",
               "time_percent": 37.5, "time_sec": 1.5},
    "render": {"times": [0, 2.5, {"value": 7, "scale": 30}], "depth": 16, "downsample": [[1, 2], [1, 3]]}
  })");
}

std::string ErrorOf(const Json& scene) {
  try {
    ParseScene(scene.dump());
  } catch (const SceneError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(SceneFile, ReadsEveryFieldAsWritten) {
  const Scene s = ParseScene(ValidScene().dump());
  EXPECT_EQ(s.composition.width, 1920);
  EXPECT_EQ(s.composition.time_scale, 30u);
  ASSERT_EQ(s.composition.layers.size(), 3u);
  const LayerModel& card = s.composition.layers[1];
  EXPECT_EQ(card.id, 7);
  EXPECT_EQ(card.name, "Card");
  EXPECT_EQ(card.start.value, 30);  // 1 s at the composition's time scale
  EXPECT_EQ(card.in_point.value, 60);
  EXPECT_EQ(card.duration.value, 300);
  EXPECT_EQ(card.frame_rate, 24.0);
  ASSERT_NE(card.source, nullptr);
  EXPECT_EQ(card.source->Describe(), "frame_card \"Card\"");
  EXPECT_EQ(s.composition.layers[0].in_point.value, 0);  // in-point defaults to the start
  EXPECT_EQ(s.composition.layers[2].name, "Layer 9");
  EXPECT_EQ(s.composition.layers[2].frame_rate, 30.0);
  EXPECT_EQ(s.effect.on_layer, 1);
  const auto constant = [&](const char* control) {
    const AnimatedValue& value = s.effect.controls.at(control);
    EXPECT_TRUE(value.IsConstant()) << control;
    return value.At(0, true);
  };
  EXPECT_EQ(constant(controls::kMode), 3);
  EXPECT_EQ(constant(controls::kLayer), 7);
  EXPECT_EQ(constant(controls::kTimeType), 2);
  EXPECT_EQ(constant(controls::kTimePercent), 37.5);
  EXPECT_EQ(constant(controls::kTimeSec), 1.5);
  ASSERT_EQ(s.render.times.size(), 3u);
  EXPECT_EQ(s.render.times[1].value, 75);
  EXPECT_EQ(s.render.times[2].value, 7);
  EXPECT_EQ(s.render.depth, BitDepth::k16);
  EXPECT_EQ(s.render.downsample_y.den, 3u);

  EXPECT_EQ(ModeName(7), "7");
  EXPECT_EQ(TimeTypeName(2), "Second");

  // A 29.97 composition without a time scale ticks in 1/30000 s.
  Json ntsc = ValidScene();
  ntsc["composition"].erase("time_scale");
  ntsc["composition"]["frame_rate"] = 29.97;
  EXPECT_EQ(ParseScene(ntsc.dump()).composition.time_scale, 30000u);
  // One too low to derive any time scale from is refused, not left at 0.
  ntsc["composition"]["frame_rate"] = 0.0001;
  EXPECT_EQ(ErrorOf(ntsc).rfind("composition.frame_rate: too low to derive a time scale", 0), 0u) << ErrorOf(ntsc);
}

TEST(SceneFile, MalformedFieldsAreNamed) {
  struct Case {
    const char* pointer;  // JSON pointer of the field changed
    Json value;           // null with erase = true removes it
    const char* expected_start;
    bool erase = false;
  };
  const Case cases[] = {
      {"/layers/1/width", -5, "layers[1].width: expected a positive integer"},
      {"/layers/1/width", 1.5, "layers[1].width: expected a positive integer"},
      {"/layers/1/width", "wide", "layers[1].width: expected a positive integer"},
      {"/layers/0/height", nullptr, "layers[0].height: missing", true},
      {"/layers/0/duration", 0, "layers[0].duration: expected a positive time"},
      {"/layers/0/duration", nullptr, "layers[0].duration: missing", true},
      {"/layers/1/id", 1, "layers[1].id: layer id 1 used twice"},
      {"/layers/2/widht", 3, "layers[2].widht: unknown field"},
      {"/layers/1/in_point", Json::parse(R"({"value": 1})"), "layers[1].in_point.scale: missing"},
      {"/layers/1/in_point", Json::parse(R"({"value": 1, "scale": 0})"), "layers[1].in_point.scale: expected"},
      {"/layers/1/start", 1e12, "layers[1].start: time out of range"},
      {"/layers/1/frame_rate", 0, "layers[1].frame_rate: expected a positive frame rate"},
      {"/layers/1/source/type", "video", "layers[1].source.type: expected"},
      {"/layers/2/source/cell", 0, "layers[2].source.cell: expected a positive integer"},
      {"/layers/1/source", Json::parse(R"({"type": "png"})"), "layers[1].source.path: expected a file path"},
      {"/layers/1/source", Json::parse(R"({"type": "png", "path": "no_such_%04d.png"})"),
       "layers[1].source.path: no_such_0001.png: no such file"},
      {"/layers/1/source", Json::parse(R"({"type": "png", "path": "%s.png"})"), "layers[1].source.path: %s.png:"},
      {"/composition/width", 0, "composition.width: expected a positive integer"},
      {"/composition/time_scale", -30, "composition.time_scale: expected a positive"},
      {"/effect/on_layer", 4, "effect.on_layer: no layer has id 4"},
      {"/effect/mode", "Stretch", "effect.mode: expected one of \"Center\", \"Whole\""},
      {"/effect/time_type", 2.5, "effect.time_type: expected one of \"Percent\", \"Second\""},
      {"/effect/layer", -1, "effect.layer: expected a layer id, or 0 for none"},
      {"/effect/time_sec", "soon", "effect.time_sec: expected a number"},
      {"/effect/time_percent", 1e6, "effect.time_percent: expected a number from 0 to 100, got 1000000"},
      {"/effect/time_percent", -0.5, "effect.time_percent: expected a number from 0 to 100, got -0.5"},
      {"/effect/time_sec", 1000000.5, "effect.time_sec: expected a number from 0 to 1e+06"},
      {"/effect/mode", 7, "effect.mode: expected one of \"Center\", \"Whole\", \"No Margin\", \"Fit to Layer\" "
                          "or an entry number from 1 to 4, got 7"},
      {"/effect/time_type", 0, "effect.time_type: expected one of \"Percent\", \"Second\" or an entry number"},
      {"/effect/time_percent", Json::array(), "effect.time_percent: expected a value, or a non-empty array"},
      {"/effect/time_percent", Json::parse(R"([{"time": 0, "value": 50}, {"time": 1, "value": -5}])"),
       "effect.time_percent[1].value: expected a number from 0 to 100, got -5"},
      {"/effect/time_percent", Json::parse(R"([{"time": 1, "value": 5}, {"time": 1, "value": 6}])"),
       "effect.time_percent[1].time: expected a time later than the keyframe before it"},
      {"/effect/mode", Json::parse(R"([{"time": 0, "value": "Whole", "ease": 1}])"),
       "effect.mode[0].ease: unknown field"},
      {"/effect/layer", Json::parse(R"([{"time": 0, "value": 7}, {"time": 2, "value": 8}])"),
       "effect.layer[1].value: no layer has id 8"},
      {"/effect/time_sec", Json::parse(R"([{"value": 1}])"), "effect.time_sec[0].time: missing"},
      {"/effect/time_sec", Json::parse(R"([{"time": 0, "value": 1, "hold": 1}])"),
       "effect.time_sec[0].hold: expected true or false"},
      {"/render/times", Json::parse(R"({"from": 0})"), "render.times.count: missing"},
      {"/render/downsample", Json::parse("[[1, 200], [1, 1]]"),
       "render.downsample: leaves layer 9 (64 x 64) without a pixel on a side"},
      {"/render/times", Json::parse(R"({"from": 0, "count": 0})"), "render.times.count: expected a number of frames"},
      {"/render/times", Json::parse(R"({"start": 0, "count": 3})"), "render.times.start: unknown field"},
      {"/render/times", Json::array(), "render.times: expected a non-empty array"},
      {"/render/times/1", "later", "render.times[1]: expected seconds"},
      {"/render/depth", 24, "render.depth: expected 8, 16 or 32"},
      {"/render/downsample", Json::parse("[[1, 2]]"), "render.downsample: expected [[num, den], [num, den]]"},
      {"/render/downsample", Json::parse("[[1, 0], [1, 1]]"), "render.downsample[0][1]: expected a positive"},
      {"/render/downsample", Json::parse("[[3, 2], [1, 1]]"), "render.downsample[0]: expected a factor of at most 1"},
      {"/effect", nullptr, "effect: missing", true},
      {"/layers", Json::array(), "layers: expected a non-empty array"},
  };
  for (const Case& c : cases) {
    Json scene = ValidScene();
    const Json::json_pointer p(c.pointer);
    if (c.erase)
      scene[p.parent_pointer()].erase(p.back());
    else
      scene[p] = c.value;
    const std::string error = ErrorOf(scene);
    EXPECT_EQ(error.rfind(c.expected_start, 0), 0u) << c.pointer << ": got \"" << error << "\"";
  }
  EXPECT_EQ(std::string(ErrorOf(Json::array())).rfind("scene: expected a JSON object", 0), 0u);
  try {
    ParseScene("{\"composition\": ");
    FAIL();
  } catch (const SceneError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("scene: not valid JSON", 0), 0u) << e.what();
  }
}

// Text the JSON library reads but the host cannot hold: numbers beyond a
// double, times that would wrap in the host's 32-bit time (on their own, as
// an end, or counted from the effect layer's start), keys given twice, a
// chosen layer that does not exist. Each is refused naming its field.
struct Unholdable {
  const char* name;
  const char* from;  // text of ValidScene().dump() replaced ...
  const char* to;    // ... by this
  const char* expected_start;
  const char* also_from = nullptr;  // a second replacement, where one is needed
  const char* also_to = nullptr;
};

class UnholdableScene : public ::testing::TestWithParam<Unholdable> {};

TEST_P(UnholdableScene, IsRefusedNamingTheField) {
  const Unholdable& c = GetParam();
  std::string text = ValidScene().dump();
  for (const auto& [from, to] : {std::pair{c.from, c.to}, std::pair{c.also_from, c.also_to}}) {
    if (from == nullptr) continue;
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from << " not in " << text;
    text.replace(at, std::string(from).size(), to);
  }
  std::string error = "(accepted)";
  try {
    ParseScene(text);
  } catch (const SceneError& e) {
    error = e.what();
  }
  EXPECT_EQ(error.rfind(c.expected_start, 0), 0u) << "got \"" << error << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnholdableScene,
    ::testing::Values(
        Unholdable{"TimeBeyondADouble", R"("times":[0,)", R"("times":[1e999,)", "render.times[0]: "},
        Unholdable{"WidthBeyondADouble", R"("width":1920)", R"("width":-1e400)", "composition.width: "},
        Unholdable{"DurationBeyondADouble", R"("duration":2,)", R"("duration":1e999,)", "layers[2].duration: "},
        Unholdable{"ExactTimeWrapsAtTheCompositionScale", R"({"scale":30,"value":7})",
                   R"({"scale":1,"value":2147483647})", "render.times[2]: time out of range"},
        Unholdable{"LayerEndWraps", R"("duration":{"scale":30,"value":300})",
                   R"("duration":{"scale":30,"value":2147483600})", "layers[1].duration: time out of range"},
        Unholdable{"TimeOnTheEffectLayerWraps", R"("duration":10,)",
                   R"("duration":10,"start":-71000000,)", "render.times[0]: time out of range", R"("times":[0,)",
                   R"("times":[71000000,)"},
        Unholdable{"KeyTwiceAtTheTop", R"("render":{)", R"("render":{},"render":{)", "render: given twice"},
        Unholdable{"KeyTwiceInAnObject", R"("height":1080,)", R"("height":1080,"height":720,)",
                   "composition.height: given twice"},
        Unholdable{"KeyTwiceInAnArrayElement", R"("name":"Card",)", R"("name":"Card","name":"Other",)",
                   "layers[1].name: given twice"},
        Unholdable{"ChosenLayerMissing", R"("layer":7)", R"("layer":8)", "effect.layer: no layer has id 8"}),
    [](const auto& info) { return std::string(info.param.name); });

// A numbered sequence runs over consecutive files; a file missing in the
// middle is named rather than silently ending the layer's footage there.
struct Sequence {
  const char* name;
  const char* pattern;
  std::vector<int> numbers;  // the files on disk
  int first;
  const char* missing;  // the file the error names, or null when the sequence is whole
  A_long frames;        // frames of a whole sequence
};

class NumberedSequence : public ::testing::TestWithParam<Sequence> {};

TEST_P(NumberedSequence, WithAGapNamesTheMissingFrame) {
  const Sequence& c = GetParam();
  const std::filesystem::path dir = testing::FreshTempDir(std::string("tovane_sequence_") + c.name);
  PixelWorld still(4, 4, BitDepth::k8);
  const auto path_of = [&](int number) {
    char name[64];
    std::snprintf(name, sizeof name, c.pattern, number);
    return (dir / name).string();
  };
  for (int number : c.numbers) WritePng(still.world(), path_of(number));
  const std::string pattern = (dir / c.pattern).string();
  if (c.missing == nullptr) {
    EXPECT_EQ(PngSource(pattern, c.first).frame_count(), c.frames);
  } else {
    try {
      PngSource source(pattern, c.first);
      ADD_FAILURE() << "accepted with " << source.frame_count() << " frames";
    } catch (const PixelSourceError& e) {
      EXPECT_EQ(std::string(e.what()).rfind((dir / c.missing).string() + ": missing from the sequence", 0), 0u)
          << e.what();
    }
  }
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, NumberedSequence,
    ::testing::Values(Sequence{"Whole", "img_%04d.png", {1, 2, 3}, 1, nullptr, 3},
                      Sequence{"WholeFromZero", "img_%d.png", {0, 1, 2, 3, 4}, 0, nullptr, 5},
                      Sequence{"OneMissing", "img_%04d.png", {1, 2, 4, 5}, 1, "img_0003.png", 0},
                      Sequence{"SecondMissing", "img_%04d.png", {1, 3}, 1, "img_0002.png", 0},
                      Sequence{"UnpaddedGap", "shot%d.png", {1, 2, 3, 9, 10, 11}, 1, "shot4.png", 0},
                      Sequence{"GapAfterFirst", "f_%03d_v2.png", {10, 12}, 10, "f_011_v2.png", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A scene's effect keys name the module's controls; one the module did not
// declare is refused under the scene's own key, naming the control.
TEST(SceneFile, AControlTheModuleDidNotDeclareIsRefusedByName) {
  EXPECT_NO_THROW(RefuseUndeclaredControls({}));
  try {
    RefuseUndeclaredControls({controls::kTimePercent});
    FAIL();
  } catch (const SceneError& e) {
    EXPECT_STREQ(e.what(), "effect.time_percent: the module declares no control named \"Time(%)\"");
  }
}

TEST(SceneFile, FilesNameThemselvesInErrors) {
  try {
    LoadSceneFile("/nonexistent/scene.json");
    FAIL();
  } catch (const SceneError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("/nonexistent/scene.json: ", 0), 0u) << e.what();
  }
}


// Keyframes: sliders move linearly between keys unless a key holds, popups
// and layers hold; before the first key and after the last the end values
// stay. Read from a scene file as a user writes them.
TEST(SceneFile, KeyframesGiveEachControlItsValueOverTime) {
  Json scene = ValidScene();
  scene["effect"]["time_percent"] = Json::parse(
      R"([{"time": 1, "value": 0}, {"time": 3, "value": 100}, {"time": 4, "value": 40, "hold": true},
          {"time": 5, "value": 80}])");
  scene["effect"]["mode"] = Json::parse(R"([{"time": 0, "value": "Center"}, {"time": 2, "value": "Whole"}])");
  scene["effect"]["layer"] = Json::parse(R"([{"time": {"value": 30, "scale": 30}, "value": 9}, {"time": 1.5, "value": 0}])");
  const Scene s = ParseScene(scene.dump());
  const AnimatedValue& percent = s.effect.controls.at(controls::kTimePercent);
  EXPECT_EQ(percent.At(0.0, true), 0.0);    // before the first key
  EXPECT_EQ(percent.At(2.0, true), 50.0);   // halfway from 0 to 100
  EXPECT_EQ(percent.At(3.5, true), 70.0);   // from 100 towards 40
  EXPECT_EQ(percent.At(4.99, true), 40.0);  // a hold key keeps its value ...
  EXPECT_EQ(percent.At(5.0, true), 80.0);   // ... until the next key
  EXPECT_EQ(percent.At(60.0, true), 80.0);  // after the last key
  const AnimatedValue& mode = s.effect.controls.at(controls::kMode);
  EXPECT_EQ(mode.At(1.99, false), controls::kCenter);
  EXPECT_EQ(mode.At(2.0, false), controls::kWhole);
  const AnimatedValue& layer = s.effect.controls.at(controls::kLayer);
  EXPECT_EQ(layer.At(0.5, false), 9);
  EXPECT_EQ(layer.At(1.25, false), 9);
  EXPECT_EQ(layer.At(1.5, false), 0);
}

// Consecutive frames from a time: one composition frame apart, in ticks of
// the composition's scale (a 29.97 composition steps 1001 of 30000).
TEST(SceneFile, RenderTimesCanBeAStretchOfFrames) {
  Json scene = ValidScene();
  scene["composition"] = Json::parse(R"({"width": 1920, "height": 1080, "frame_rate": 29.97})");
  scene["render"]["times"] = Json::parse(R"({"from": 1, "count": 4})");
  const Scene s = ParseScene(scene.dump());
  ASSERT_EQ(s.render.times.size(), 4u);
  EXPECT_EQ(s.render.times[0].value, 30000);
  EXPECT_EQ(s.render.times[3].value, 30000 + 3 * 1001);
  EXPECT_EQ(s.render.times[3].scale, 30000u);
}

}  // namespace
}  // namespace hostsim
