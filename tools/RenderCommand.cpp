// `tovane-host render`: renders frames of a scene through the effect module
// and writes them as images; without a scene, renders a contact sheet that
// shows what each placement mode and each kind of timing does.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Commands.h"
#include "Downsampled.h"
#include "FileAccess.h"
#include "MemoryBudget.h"
#include "Session.h"
#include "pixels/ImageIO.h"
#include "pixels/PixelSource.h"
#include "pixels/SceneFile.h"
#include "pixels/TextDraw.h"

namespace {

namespace fs = std::filesystem;
using hostsim::BitDepth;
using hostsim::PixelWorld;

struct RenderOptions {
  std::string scene_path;
  std::string module_path;
  std::string out_dir = ".";
  int depth = 0;  // 0: the scene's
  std::string trace_path;
  hostsim::MemoryBudget memory;
};

std::string TimeText(const A_Time& t) {
  std::ostringstream s;
  s << (t.scale ? static_cast<double>(t.value) / t.scale : 0.0) << " s (" << t.value << "/" << t.scale << ")";
  return s.str();
}

// One effect instance's whole life around a list of frames, as the host runs
// it: setup, the visibility update for the chosen time type, the frames,
// setdown. Reports what the module left held or misused.
class EffectRun {
 public:
  EffectRun(const hostsim::Module& module, const hostsim::Scene& scene, BitDepth depth, bool traced)
      : host_(module), session_(host_) {
    // Kept only to be written: a trace grows by kilobytes a frame.
    host_.trace().set_enabled(traced);
    host_.SetScene(scene.composition, scene.effect);
    host_.SetDownsample(scene.render.downsample_x, scene.render.downsample_y);
    host_.SetBitDepth(depth);
  }

  // False with a message when setup failed.
  bool Start(std::string& problem) {
    PF_Err err = session_.GlobalSetup();
    started_ = err == PF_Err_NONE;
    if (err != PF_Err_NONE) {
      problem = "global setup failed with error " + std::to_string(err);
      return false;
    }
    if ((err = session_.ParamsSetup()) != PF_Err_NONE) {
      problem = "params setup failed with error " + std::to_string(err);
      return false;
    }
    try {
      hostsim::RefuseUndeclaredControls(host_.UndeclaredControls());
    } catch (const hostsim::SceneError& refused) {
      problem = refused.what();
      return false;
    }
    if ((err = session_.UpdateParamsUI()) != PF_Err_NONE) {
      problem = "update params UI failed with error " + std::to_string(err);
      return false;
    }
    return true;
  }

  hostsim::FrameResult Render(const A_Time& comp_time) { return session_.RenderFrameAtCompTime(comp_time); }

  // Global setdown; false with messages when the module misbehaved.
  bool Finish(std::vector<std::string>& problems) {
    if (started_) {
      const PF_Err down = session_.GlobalSetdown();
      if (down != PF_Err_NONE) problems.push_back("global setdown failed with error " + std::to_string(down));
    }
    const hostsim::Holdings held = host_.holdings();
    if (!held.Empty()) problems.push_back("the module still holds: " + held.Describe());
    for (const std::string& e : host_.errors()) problems.push_back("host noticed: " + e);
    return problems.empty();
  }

  hostsim::Host& host() { return host_; }

  // Why the host failed the frame at `time` when it did (an image it could
  // not read, say): the module sees only an error code, the trace keeps the
  // reason. Untraced, the frame is tried again traced and that trace dropped.
  std::vector<std::string> HostFailuresAt(const A_Time& time, std::size_t first_traced_entry) {
    hostsim::Trace& trace = host_.trace();
    const bool traced = trace.enabled();
    if (!traced) {
      trace.set_enabled(true);
      first_traced_entry = trace.entries().size();
      Render(time);
    }
    std::vector<std::string> failures;
    for (std::size_t i = first_traced_entry; i < trace.entries().size(); ++i) {
      const auto found = trace.entries()[i].find("host_failure");
      if (found != trace.entries()[i].end()) failures.push_back(found->get<std::string>());
    }
    if (!traced) {
      trace.Clear();
      trace.set_enabled(false);
    }
    return failures;
  }

 private:
  hostsim::Host host_;
  hostsim::Session session_;
  bool started_ = false;
};

bool WriteTrace(const std::string& path, const std::vector<const hostsim::Trace*>& traces) {
  try {
    hostsim::WriteTraceFile(path, traces);
  } catch (const hostsim::FileAccessError& e) {
    std::cerr << "render: " << e.what() << '\n';
    return false;
  }
  std::cout << "trace: " << path << '\n';
  return true;
}

// Writes a rendered world under `path_stem` plus the extension of its depth,
// through a temporary file, and returns the path written.
std::string WriteFrame(const PixelWorld& world, const std::string& path_stem) {
  const std::string path = path_stem + hostsim::ImageExtensionFor(world.depth());
  hostsim::WriteThroughTemporary(path, [&](const std::string& temporary) {
    if (world.depth() == BitDepth::k32) {
      hostsim::WriteExr(world.world(), temporary);
    } else {
      hostsim::WritePng(world.world(), temporary);
    }
  });
  return path;
}

// ---- What a render reads and writes ---------------------------------------

// Every file a render reads, so that none of them is written over.
class InputFiles {
 public:
  void Add(const std::string& path) { canonical_.insert(hostsim::CanonicalPath(path)); }
  void AddSources(const hostsim::Scene& scene) {
    for (const hostsim::LayerModel& layer : scene.composition.layers) {
      const auto* png = dynamic_cast<const hostsim::PngSource*>(layer.source.get());
      if (png == nullptr) continue;
      const A_long frames = std::max<A_long>(png->frame_count(), 1);
      for (A_long i = 0; i < frames; ++i) Add(png->PathOf(i));
    }
  }
  // Throws naming the output and saying what it would overwrite.
  void RefuseOverwrite(const std::string& output, const char* what) const {
    if (canonical_.count(hostsim::CanonicalPath(output))) {
      throw hostsim::FileAccessError(output + ": the " + std::string(what) +
                                     " would overwrite a file this render reads; choose another path");
    }
  }

 private:
  std::set<fs::path> canonical_;
};

// The worlds one frame holds at once: the effect layer's input and output and
// the largest other layer, at the render's resolution, and a PNG decoded at
// its own size before it is scaled.
std::uint64_t FrameBytes(const hostsim::Scene& scene, BitDepth depth) {
  const auto world = [&](std::uint64_t width, std::uint64_t height) {
    return width * height * hostsim::BytesPerPixel(depth);
  };
  const auto at_resolution = [&](A_long width, A_long height) {
    return world(static_cast<std::uint64_t>(std::max<A_long>(hostsim::Downsampled(width, scene.render.downsample_x), 1)),
                 static_cast<std::uint64_t>(std::max<A_long>(hostsim::Downsampled(height, scene.render.downsample_y), 1)));
  };
  std::uint64_t effect_layer = 0, largest_other = 0;
  for (const hostsim::LayerModel& layer : scene.composition.layers) {
    std::uint64_t need = at_resolution(layer.width, layer.height);
    if (const auto* png = dynamic_cast<const hostsim::PngSource*>(layer.source.get()))
      need += world(static_cast<std::uint64_t>(png->file_width()), static_cast<std::uint64_t>(png->file_height()));
    if (layer.id == scene.effect.on_layer) {
      effect_layer = need;
    } else {
      largest_other = std::max(largest_other, need);
    }
  }
  return 2 * effect_layer + largest_other;
}

// ---- Scene files ------------------------------------------------------------

int RenderScene(const RenderOptions& options, const hostsim::Module& module) {
  const hostsim::Scene scene = hostsim::LoadSceneFile(options.scene_path, options.memory);
  const BitDepth depth = options.depth ? static_cast<BitDepth>(options.depth) : scene.render.depth;
  options.memory.Require(FrameBytes(scene, depth), "a frame of " + options.scene_path + " at " +
                                                      std::to_string(static_cast<int>(depth)) + " bits");
  const std::size_t count = scene.render.times.size();
  const int digits = std::max<int>(4, static_cast<int>(std::to_string(count - 1).size()));
  const auto stem_of = [&](std::size_t i) {
    std::ostringstream name;
    name << "frame_" << std::setw(digits) << std::setfill('0') << i;
    return hostsim::PathToUtf8(hostsim::PathFromUtf8(options.out_dir) / name.str());
  };
  // Refused before anything is written, so a refused render changes nothing.
  InputFiles inputs;
  inputs.Add(options.scene_path);
  inputs.Add(module.path());
  inputs.AddSources(scene);
  for (std::size_t i = 0; i < count; ++i)
    inputs.RefuseOverwrite(stem_of(i) + hostsim::ImageExtensionFor(depth), "frame");
  if (!options.trace_path.empty()) inputs.RefuseOverwrite(options.trace_path, "trace");

  EffectRun run(module, scene, depth, !options.trace_path.empty());
  std::string problem;
  bool failed = false;
  if (!run.Start(problem)) {
    std::cerr << "render: " << problem << '\n';
    failed = true;
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      const A_Time& time = scene.render.times[i];
      const std::size_t traced_before = run.host().trace().entries().size();
      hostsim::FrameResult frame = run.Render(time);
      std::cout << "frame " << (i + 1) << "/" << count << " at " << TimeText(time) << ": ";
      if (frame.error() != PF_Err_NONE || !frame.output) {
        std::cout << "error " << frame.error() << '\n';
        std::cerr << "render: frame " << (i + 1) << " at " << TimeText(time) << " failed with error "
                  << frame.error();
        const std::vector<std::string> reasons = run.HostFailuresAt(time, traced_before);
        for (std::size_t n = 0; n < reasons.size(); ++n) std::cerr << (n == 0 ? ": " : "; ") << reasons[n];
        std::cerr << '\n';
        failed = true;
        continue;
      }
      try {
        const std::string path = WriteFrame(*frame.output, stem_of(i));
        std::cout << frame.output->width() << "x" << frame.output->height() << " -> " << path << '\n';
      } catch (const std::runtime_error& e) {
        std::cout << "not written\n";
        std::cerr << "render: " << e.what() << '\n';
        failed = true;
      }
    }
  }
  std::vector<std::string> problems;
  if (!run.Finish(problems)) failed = true;
  for (const std::string& p : problems) std::cerr << "render: " << p << '\n';
  if (!options.trace_path.empty() && !WriteTrace(options.trace_path, {&run.host().trace()})) failed = true;
  return failed ? 1 : 0;
}

// ---- The demo contact sheet ---------------------------------------------------

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

int RenderDemo(const RenderOptions& options, const hostsim::Module& module) {
  InputFiles inputs;
  inputs.Add(module.path());
  inputs.RefuseOverwrite(hostsim::PathToUtf8(hostsim::PathFromUtf8(options.out_dir) / "contact_sheet.png"),
                         "contact sheet");
  if (!options.trace_path.empty()) inputs.RefuseOverwrite(options.trace_path, "trace");
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
      runs.push_back(std::make_unique<EffectRun>(module, scene, depth, !options.trace_path.empty()));
      EffectRun& run = *runs.back();
      std::string problem, caption = panel.caption;
      std::unique_ptr<PixelWorld> output;
      if (run.Start(problem)) {
        hostsim::FrameResult frame = run.Render(scene.render.times[0]);
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
    hostsim::WriteThroughTemporary(
        path, [&](const std::string& temporary) { hostsim::WritePng(sheet.world(), temporary, 8); });
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

int RunRender(const RenderOptions& options) {
  if (options.module_path.empty()) {
    std::cerr << "render: no effect module known to this build; name one with --module\n";
    return kExitWrongOptions;
  }
  const hostsim::Module module(options.module_path);
  std::error_code ec;
  fs::create_directories(hostsim::PathFromUtf8(options.out_dir), ec);
  if (ec) {
    std::cerr << "render: cannot create the output directory '" << options.out_dir << "': " << ec.message() << '\n';
    return kExitFailed;
  }
  return options.scene_path.empty() ? RenderDemo(options, module) : RenderScene(options, module);
}

}  // namespace

void AddRenderCommand(CLI::App& app) {
  auto options = std::make_shared<RenderOptions>();
  options->module_path = DefaultModulePath();
  CLI::App* command = app.add_subcommand(
      "render",
      "Render frames of a scene file through the effect (one image per time), or without a scene a contact sheet "
      "of the placement modes and timing");
  command->add_option("scene", options->scene_path, "Scene JSON file; omit for the demo contact sheet");
  command->add_option("--module", options->module_path, "Effect module to load")->capture_default_str();
  command->add_option("--out", options->out_dir, "Directory for the images (made if missing)")->capture_default_str();
  command->add_option("--depth", options->depth, "Bits per channel, overriding the scene's: 8, 16 or 32")
      ->check(CLI::IsMember({8, 16, 32}));
  command->add_option("--trace", options->trace_path,
                      "Write the host call trace here as JSON Lines (kept in memory only when asked for)");
  AddMemoryBudgetOption(*command, options->memory);
  command->callback([options] { RunCommand("render", [&] { return RunRender(*options); }); });
}
