// The demo contact sheet of `tovane-host render`: one composition, the
// effect's output for each placement mode on two layer shapes and for each
// kind of timing, side by side with captions, in one PNG file.

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "FileAccess.h"
#include "RenderRun.h"
#include "EffectControls.h"
#include "pixels/ImageIO.h"
#include "pixels/KeptPixels.h"
#include "pixels/PixelSource.h"
#include "pixels/TextDraw.h"

namespace render {
namespace {

using hostsim::BitDepth;
using hostsim::PixelWorld;

constexpr A_long kCompWidth = 1920;
constexpr A_long kCompHeight = 1080;
constexpr A_long kShrink = 4;  // panels are rendered at quarter resolution
constexpr A_long kPanelWidth = kCompWidth / kShrink;
constexpr A_long kPanelHeight = kCompHeight / kShrink;
constexpr A_long kMargin = 40;
constexpr A_long kGap = 28;
constexpr A_long kTitleHeight = 110;
constexpr A_long kRowHeaderHeight = 44;
constexpr A_long kLabelHeight = 34;
constexpr A_long kCaptionHeight = 30;
constexpr A_long kRowGap = 26;
constexpr A_long kColumns = 4;

const PF_PixelFloat kSheetColour = {1, 0.11f, 0.115f, 0.125f};
const PF_PixelFloat kTitleColour = {1, 0.95f, 0.95f, 0.95f};
const PF_PixelFloat kLabelColour = {1, 1.0f, 0.82f, 0.35f};
const PF_PixelFloat kCaptionColour = {1, 0.7f, 0.72f, 0.75f};
const PF_PixelFloat kEdgeColour = {1, 0.45f, 0.47f, 0.5f};

struct Panel {
  std::string title;    // e.g. "CENTER"
  std::string caption;  // what it shows, in a designer's words
  A_long chosen_layer;  // id of the layer picked in "Layer"
  A_long mode;
  A_long time_type;
  double time_percent;
  double time_sec;
  bool report_frame;  // caption gains the frame that reached the output
};

struct Row {
  std::string header;
  std::vector<Panel> panels;
};

// The demo composition: the effect sits on a full-frame layer and picks one
// of three frame-number cards of different shapes. The cards' in-point is
// 2 s and they run 10 s from there, counting their frames from 0 at 2 s.
hostsim::Scene DemoScene() {
  hostsim::Scene scene;
  hostsim::CompositionModel& comp = scene.composition;
  comp.width = kCompWidth;
  comp.height = kCompHeight;
  comp.frame_rate = 30.0;
  comp.time_scale = 30;
  auto layer = [&](A_long id, const char* name, A_long w, A_long h, std::shared_ptr<const hostsim::PixelSource> src) {
    hostsim::LayerModel l;
    l.id = id;
    l.name = name;
    l.width = w;
    l.height = h;
    l.start = {60, 30};
    l.in_point = {60, 30};
    l.duration = {300, 30};
    l.frame_rate = 30.0;
    l.source = std::move(src);
    return l;
  };
  hostsim::LayerModel target = layer(1, "Effect layer", kCompWidth, kCompHeight,
                                     std::make_shared<hostsim::CheckerSource>(120, kCompWidth, kCompHeight));
  target.start = target.in_point = {0, 30};
  target.duration = {600, 30};
  comp.layers.push_back(target);
  comp.layers.push_back(layer(2, "Portrait 720x1280", 720, 1280,
                              std::make_shared<hostsim::FrameCardSource>("PORTRAIT 720X1280", 300)));
  comp.layers.push_back(layer(3, "Wide 1920x480", 1920, 480,
                              std::make_shared<hostsim::FrameCardSource>("WIDE 1920X480", 300)));
  comp.layers.push_back(layer(4, "Clip 1280x720", 1280, 720,
                              std::make_shared<hostsim::FrameCardSource>("CLIP 1280X720", 300)));
  scene.effect.on_layer = 1;
  scene.render.times = {{0, 30}};
  scene.render.downsample_x = {1, static_cast<A_u_long>(kShrink)};
  scene.render.downsample_y = {1, static_cast<A_u_long>(kShrink)};
  return scene;
}

std::vector<Row> DemoRows() {
  using namespace hostsim::controls;
  auto modes = [](A_long layer) {
    return std::vector<Panel>{
        {"CENTER", "UNSCALED, CENTRED, EDGES CUT", layer, kCenter, kPercent, 50, 0, false},
        {"WHOLE", "ALL OF IT, ASPECT KEPT", layer, kWhole, kPercent, 50, 0, false},
        {"NO MARGIN", "FILLS THE FRAME, OVERFLOW CUT", layer, kNoMargin, kPercent, 50, 0, false},
        {"FIT TO LAYER", "STRETCHED TO THE FRAME", layer, kFitToLayer, kPercent, 50, 0, false},
    };
  };
  return {
      {"A PORTRAIT LAYER (720X1280) PLACED IN A 1920X1080 FRAME BY EACH MODE", modes(2)},
      {"A WIDE LAYER (1920X480) PLACED BY EACH MODE", modes(3)},
      {"TIMING: WHICH FRAME OF A 10 S LAYER (FRAMES 0-299, IN-POINT AT 2 S) IS SHOWN",
       {
           {"PERCENT 0%", "", 4, kWhole, kPercent, 0, 0, true},
           {"PERCENT 50%", "", 4, kWhole, kPercent, 50, 0, true},
           {"PERCENT 100%", "", 4, kWhole, kPercent, 100, 0, true},
           {"SECOND 1.5 S", "", 4, kWhole, kSecond, 0, 1.5, true},
       }},
  };
}

// Draws a rendered output into the sheet over a grey checkerboard, so that
// pixels the effect left transparent show as transparency does in a viewer.
void PlaceOnSheet(PixelWorld& sheet, const PixelWorld* output, A_long left, A_long top) {
  const A_long cell = 12;
  for (A_long y = 0; y < kPanelHeight; ++y)
    for (A_long x = 0; x < kPanelWidth; ++x) {
      const float grid = ((x / cell + y / cell) % 2) ? 0.30f : 0.40f;
      PF_PixelFloat c = {1, grid, grid, grid};
      if (output && x < output->width() && y < output->height()) {
        PF_PixelFloat p = output->Get(x, y);
        const float a = std::clamp(p.alpha, 0.0f, 1.0f);
        auto over = [a](float s, float b) { return a * std::clamp(s, 0.0f, 1.0f) + (1 - a) * b; };
        c = {1, over(p.red, grid), over(p.green, grid), over(p.blue, grid)};
      }
      sheet.Set(left + x, top + y, c);
    }
  // A hairline just outside the frame marks the output's edges.
  sheet.FillRect({left - 2, top - 2, left + kPanelWidth + 2, top - 1}, kEdgeColour);
  sheet.FillRect({left - 2, top + kPanelHeight + 1, left + kPanelWidth + 2, top + kPanelHeight + 2}, kEdgeColour);
  sheet.FillRect({left - 2, top - 2, left - 1, top + kPanelHeight + 2}, kEdgeColour);
  sheet.FillRect({left + kPanelWidth + 1, top - 2, left + kPanelWidth + 2, top + kPanelHeight + 2}, kEdgeColour);
}

// Renders every panel and writes the sheet; runs in the module's process.
int RenderSheet(const RenderOptions& options, ModuleStage& stage) {
  stage.Begin("loading the module");
  const hostsim::Module module(options.module_path);
  const BitDepth depth = options.depth ? static_cast<BitDepth>(options.depth) : BitDepth::k8;
  const std::vector<Row> rows = DemoRows();
  const A_long row_height = kRowHeaderHeight + kLabelHeight + kPanelHeight + kCaptionHeight + kRowGap;
  const A_long width = 2 * kMargin + kColumns * kPanelWidth + (kColumns - 1) * kGap;
  const A_long height = kTitleHeight + static_cast<A_long>(rows.size()) * row_height + kMargin / 2;
  PixelWorld sheet(width, height, BitDepth::k8);
  sheet.Fill(kSheetColour);

  hostsim::DrawText(sheet, kMargin, 30, "TOVANEPARVOLITH: THE CHOSEN LAYER'S FRAME, PLACED AND TIMED", 4, kTitleColour);
  hostsim::DrawText(sheet, kMargin, 72,
                    "EACH PANEL IS THE EFFECT'S OUTPUT FOR A 1920X1080 LAYER, RENDERED AT QUARTER SIZE AT " +
                        std::to_string(static_cast<int>(depth)) + " BITS; A CHECKERBOARD MEANS THE OUTPUT IS TRANSPARENT THERE.",
                    2, kCaptionColour);

  const hostsim::Scene base = DemoScene();
  std::vector<std::unique_ptr<EffectRun>> runs;
  bool failed = false;
  A_long top = kTitleHeight;
  for (const Row& row : rows) {
    hostsim::DrawText(sheet, kMargin, top + 8, row.header, 3, kTitleColour);
    for (std::size_t c = 0; c < row.panels.size(); ++c) {
      const Panel& panel = row.panels[c];
      const A_long left = kMargin + static_cast<A_long>(c) * (kPanelWidth + kGap);
      const A_long panel_top = top + kRowHeaderHeight + kLabelHeight;
      hostsim::Scene scene = base;
      namespace controls = hostsim::controls;
      scene.effect.controls = {{controls::kLayer, panel.chosen_layer},
                               {controls::kMode, panel.mode},
                               {controls::kTimeType, panel.time_type},
                               {controls::kTimePercent, panel.time_percent},
                               {controls::kTimeSec, panel.time_sec}};
      runs.push_back(std::make_unique<EffectRun>(module, scene, depth, !options.trace_path.empty(), stage));
      EffectRun& run = *runs.back();
      std::string problem, caption = panel.caption;
      std::unique_ptr<PixelWorld> output;
      if (run.Start(problem)) {
        hostsim::FrameResult frame = run.Render(scene.render.times[0], "the frame of panel " + panel.title);
        if (frame.error() != PF_Err_NONE || !frame.output)
          problem = "render failed with error " + std::to_string(frame.error());
        output = std::move(frame.output);
      }
      if (output && panel.report_frame) {
        // The card's plain border tells which frame reached the output.
        PixelWorld probe(1, 1, BitDepth::k8);
        probe.Set(0, 0, output->Get(1, 1));
        const A_long shown = hostsim::FrameCardIndexOf(probe.At<PF_Pixel8>(0, 0));
        caption = shown < 0 ? "NO CARD FRAME SHOWN" : "SHOWS LAYER FRAME " + std::to_string(shown);
        std::cout << "panel " << panel.title << ": frame " << shown << '\n';
      } else {
        std::cout << "panel " << hostsim::ModeName(panel.mode) << " of " << base.composition.layers[panel.chosen_layer - 1].name
                  << ": " << (output ? "rendered" : "failed") << '\n';
      }
      std::vector<std::string> problems;
      if (!problem.empty()) problems.push_back(problem);
      run.Finish(problems);
      for (const std::string& p : problems) std::cerr << "render: " << panel.title << ": " << p << '\n';
      failed = failed || !problems.empty();

      hostsim::DrawText(sheet, left, top + kRowHeaderHeight + 4, panel.title, 3, kLabelColour);
      PlaceOnSheet(sheet, output.get(), left, panel_top);
      hostsim::DrawText(sheet, left, panel_top + kPanelHeight + 10, problems.empty() ? caption : "FAILED: SEE LOG", 2,
                        kCaptionColour);
    }
    top += row_height;
  }

  const std::string path = hostsim::PathToUtf8(hostsim::PathFromUtf8(options.out_dir) / "contact_sheet.png");
  try {
    hostsim::WritePng(sheet.world(), path, 8);
    std::cout << "contact sheet: " << path << " (" << width << "x" << height << ")\n";
  } catch (const std::runtime_error& e) {
    std::cerr << "render: " << e.what() << '\n';
    failed = true;
  }
  if (!options.trace_path.empty()) {
    std::vector<const hostsim::Trace*> traces;
    for (const auto& run : runs) traces.push_back(&run->host().trace());
    if (!WriteTrace(options.trace_path, traces)) failed = true;
  }
  return failed ? 1 : 0;
}

}  // namespace

int RenderDemo(const RenderOptions& options) {
  // The sheet's own worlds are small and fixed; what is kept between its
  // panels may have half the budget.
  hostsim::KeepPixelsWithin(options.memory.bytes / 2);
  ProtectedFiles files;
  files.AddInput(options.module_path);
  files.ClaimOutput(hostsim::PathToUtf8(hostsim::PathFromUtf8(options.out_dir) / "contact_sheet.png"),
                    "the contact sheet");
  if (!options.trace_path.empty()) files.ClaimOutput(options.trace_path, "the trace");
  return RunModuleInChild("render", options.timeout_seconds,
                          [&](ModuleStage& stage) { return RenderSheet(options, stage); });
}

}  // namespace render
