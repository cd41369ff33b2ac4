// `tovane-host render` as a person runs it: a scene file gives one image per
// time, a bad field is named, and the demo writes its contact sheet showing
// the frames the effect chose.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ImageIO.h"
#include "PixelSource.h"
#include "command_test_util.h"
#include "pixel_test_util.h"

namespace hostsim {
namespace {

namespace fs = std::filesystem;

using testing::CommandResult;
using testing::Slurp;

class RenderCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::FreshTempDir(std::string("tovane_render_") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }

  CommandResult Render(const std::string& args) { return testing::RunHostCommand("render " + args, dir_); }

  std::string WriteScene(const std::string& text) {
    const fs::path p = dir_ / "scene.json";
    std::ofstream(p) << text;
    return p.string();
  }

  fs::path dir_;
};

// A card layer 10 s long from 2 s, stretched over the effect layer, at its
// last frame ("Percent" 100).
const char* const kScene = R"({
  "composition": {"width": 320, "height": 180, "frame_rate": 30},
  "layers": [
    {"id": 1, "name": "Target", "width": 320, "height": 180, "duration": 20, "source": {"type": "checker", "cell": 20}},
    {"id": 2, "name": "Card", "width": 160, "height": 90, "start": 2, "in_point": 2, "duration": 10,
     "source": {"type": "frame_card"}}
  ],
  "effect": {"on_layer": 1, "mode": "Fit to Layer", "layer": 2, "time_type": "Percent", "time_percent": 100},
  "render": {"times": [0, {"value": 15, "scale": 30}], "depth": 16}
})";

TEST_F(RenderCommand, SceneWritesOneImagePerTimeAtTheChosenDepth) {
  const std::string scene = WriteScene(kScene);
  const CommandResult run = Render("\"" + scene + "\" --out \"" + (dir_ / "out").string() + "\" --trace \"" +
                         (dir_ / "trace.jsonl").string() + "\"");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  for (const char* name : {"frame_0000.png", "frame_0001.png"}) {
    SCOPED_TRACE(name);
    const auto image = ReadPng((dir_ / "out" / name).string(), BitDepth::k16);
    EXPECT_EQ(image->width(), 320);
    EXPECT_EQ(image->height(), 180);
    // The last frame of the card (frame 299) reached the output, scaled up.
    PixelWorld probe(1, 1, BitDepth::k8);
    probe.Set(0, 0, image->Get(2, 2));
    EXPECT_EQ(FrameCardIndexOf(probe.At<PF_Pixel8>(0, 0)), 299);
  }
  EXPECT_NE(run.out.find("frame 2/2"), std::string::npos) << run.out;
  const std::string trace = Slurp(dir_ / "trace.jsonl");
  EXPECT_NE(trace.find("\"call\":\"copy\""), std::string::npos);
  EXPECT_NE(trace.find("\"dst_rect\":[0,0,320,180]"), std::string::npos);

  // --depth overrides the scene: 32 bits are written as OpenEXR.
  const CommandResult deep = Render("\"" + scene + "\" --depth 32 --out \"" + (dir_ / "exr").string() + "\"");
  ASSERT_EQ(deep.exit_code, 0) << deep.out << deep.err;
  EXPECT_TRUE(fs::exists(dir_ / "exr" / "frame_0000.exr"));
  EXPECT_TRUE(fs::exists(dir_ / "exr" / "frame_0001.exr"));
}

TEST_F(RenderCommand, MalformedSceneFailsNamingTheField) {
  std::string text = kScene;
  text.replace(text.find("\"width\": 160"), 12, "\"width\": -160");
  const CommandResult run = Render("\"" + WriteScene(text) + "\" --out \"" + (dir_ / "out").string() + "\"");
  EXPECT_NE(run.exit_code, 0);
  EXPECT_NE(run.err.find("layers[1].width: expected a positive integer"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir_ / "out" / "frame_0000.png"));

  const CommandResult missing = Render("\"" + (dir_ / "nothing.json").string() + "\" --out \"" + (dir_ / "out").string() + "\"");
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_NE(missing.err.find("nothing.json"), std::string::npos) << missing.err;
}

TEST_F(RenderCommand, DemoWritesAContactSheetOfModesAndTiming) {
  const CommandResult run = Render("--out \"" + dir_.string() + "\"");
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  const ImageSize size = ReadPngSize((dir_ / "contact_sheet.png").string());
  EXPECT_GT(size.width, 1900);
  EXPECT_GT(size.height, 1000);
  // The timing panels read back the frame each setting chose: the in-point,
  // the middle, the last frame and 1.5 s in.
  for (const char* line : {"panel PERCENT 0%: frame 0\n", "panel PERCENT 50%: frame 150\n",
                           "panel PERCENT 100%: frame 299\n", "panel SECOND 1.5 S: frame 45\n"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " missing from\n" << run.out;
  EXPECT_EQ(run.out.find("failed"), std::string::npos) << run.out;
}

// Every file a directory holds, by name, with its bytes.
std::map<std::string, std::string> FilesIn(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) files[entry.path().filename().string()] = Slurp(entry.path());
  return files;
}

// Frames rendered on several threads at once come out as one thread renders
// them: the same image files, the same trace call for call (records a frame
// makes numbered within it), the same listing in frame order. The examples
// animate every control, at every depth; a frame that fails (a PNG sequence
// with a frame missing) is listed and reported in its place.
TEST_F(RenderCommand, FramesRenderedAtOnceMatchOneAtATime) {
  std::vector<fs::path> scenes;
  for (const fs::directory_entry& entry : fs::directory_iterator(TOVANE_EXAMPLES_DIR)) scenes.push_back(entry.path());
  ASSERT_GE(scenes.size(), 5U);
  {
    // A sequence of four frames whose third is damaged, shown from its
    // first at one frame a frame.
    fs::create_directories(dir_ / "seq");
    PixelWorld frame(8, 8, BitDepth::k8);
    for (int i : {1, 2, 4}) WriteImage(frame.world(), (dir_ / "seq" / ("f_" + std::to_string(i))).string());
    std::ofstream(dir_ / "seq" / "f_3.png") << "not a PNG";
    std::ofstream(dir_ / "gap.json") << R"({
      "composition": {"width": 16, "height": 16, "frame_rate": 30},
      "layers": [
        {"id": 1, "name": "Target", "width": 16, "height": 16, "duration": 1, "source": {"type": "checker", "cell": 4}},
        {"id": 2, "name": "Seq", "width": 8, "height": 8, "duration": 1, "source": {"type": "png", "path": "seq/f_%d.png"}}
      ],
      "effect": {"on_layer": 1, "mode": "Center", "layer": 2, "time_type": "Second",
                 "time_sec": [{"time": 0, "value": 0}, {"time": 4, "value": 4}]},
      "render": {"times": {"from": 0, "count": 6}}
    })";
    scenes.push_back(dir_ / "gap.json");
  }
  for (const fs::path& scene : scenes) {
    SCOPED_TRACE(scene.string());
    std::map<std::string, std::string> outputs[2];
    CommandResult runs[2];
    for (int k = 0; k < 2; ++k) {
      const std::string jobs = k == 0 ? "1" : "4";
      const fs::path out = dir_ / (scene.stem().string() + "-jobs" + jobs);
      runs[k] = Render("\"" + scene.string() + "\" --jobs " + jobs + " --out \"" + out.string() + "\" --trace \"" +
                       (out / "trace.jsonl").string() + "\"");
      outputs[k] = FilesIn(out);
      // Listings differ only in the folder named.
      std::string listing = runs[k].out;
      for (std::size_t at; (at = listing.find(out.string())) != std::string::npos;) listing.replace(at, out.string().size(), "OUT");
      runs[k].out = listing;
    }
    EXPECT_EQ(runs[0].exit_code, runs[1].exit_code) << runs[1].err;
    EXPECT_EQ(runs[0].out, runs[1].out);
    EXPECT_EQ(runs[0].err, runs[1].err);
    ASSERT_EQ(outputs[0].size(), outputs[1].size());
    for (const auto& [name, bytes] : outputs[0]) EXPECT_TRUE(outputs[1][name] == bytes) << name << " differs";
    if (scene.filename() == "gap.json") {
      EXPECT_EQ(runs[1].exit_code, 1);
      EXPECT_NE(runs[1].out.find("frame 3/6 at 0.0666667 s (2/30): error"), std::string::npos) << runs[1].out;
      EXPECT_NE(runs[1].err.find("f_3.png: not a PNG file"), std::string::npos) << runs[1].err;
    } else {
      EXPECT_EQ(runs[1].exit_code, 0) << runs[1].err;
    }
  }
}

// A long render shows one updating line on a terminal, and none when its
// standard error goes elsewhere or the user asks for quiet.
TEST_F(RenderCommand, ProgressShowsOnATerminalOnly) {
  const std::string scene = WriteScene(kScene);
  const std::string render = std::string("'") + TOVANE_HOST_PATH + "' render '" + scene + "' --out '" + (dir_ / "out").string() + "'";
  // script(1) gives the command a terminal and copies what it shows.
  const auto on_terminal = [&](const std::string& extra) {
    const std::string shown = (dir_ / "shown").string();
    const std::string command = "script -qec \"" + render + extra + "\" /dev/null > '" + shown + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return Slurp(shown);
  };
  const std::string shown = on_terminal("");
  EXPECT_NE(shown.find("rendering: 1/2 frames"), std::string::npos) << shown;
  EXPECT_NE(shown.find("rendered: 2 frames in"), std::string::npos) << shown;
  const std::string quiet = on_terminal(" --quiet");
  EXPECT_EQ(quiet.find("render"), std::string::npos) << quiet;
  const CommandResult piped = Render("\"" + scene + "\" --out \"" + (dir_ / "out").string() + "\"");
  ASSERT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(piped.err, "");
}

TEST_F(RenderCommand, JobsOutsideOneToAThousandAreRefused) {
  const std::string scene = WriteScene(kScene);
  for (const char* jobs : {"0", "-1", "100000", "many"}) {
    const CommandResult run = Render("\"" + scene + "\" --jobs " + jobs + " --out \"" + (dir_ / "out").string() + "\"");
    EXPECT_EQ(run.exit_code, 2) << jobs;
    EXPECT_NE(run.err.find("--jobs"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "out" / "frame_0000.png"));
  }
}

}  // namespace
}  // namespace hostsim
