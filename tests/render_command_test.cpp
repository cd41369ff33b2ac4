// `tovane-host render` as a person runs it: a scene file gives one image per
// time, a bad field is named, and the demo writes its contact sheet showing
// the frames the effect chose.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace
}  // namespace hostsim
