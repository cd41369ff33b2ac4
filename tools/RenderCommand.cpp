// `tovane-host render`: renders frames of a scene through the effect module
// and writes them as images; without a scene, renders the contact sheet of
// DemoSheet.cpp, which shows what each placement mode and each kind of
// timing does.

#include <algorithm>
#include <chrono>
#include <functional>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CommandSupport.h"
#include "Commands.h"
#include "Downsampled.h"
#include "FileAccess.h"
#include "InOrder.h"
#include "ProgressLine.h"
#include "RenderRun.h"
#include "pixels/ImageIO.h"
#include "pixels/KeptPixels.h"
#include "pixels/PixelSource.h"

namespace {

namespace fs = std::filesystem;
using hostsim::BitDepth;
using hostsim::PixelWorld;
using render::EffectRun;
using render::RenderOptions;

std::string TimeText(const A_Time& t) {
  std::ostringstream s;
  s << (t.scale ? static_cast<double>(t.value) / t.scale : 0.0) << " s (" << t.value << "/" << t.scale << ")";
  return s.str();
}

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

std::string FrameText(std::size_t i, const A_Time& time) { return "frame " + std::to_string(i + 1) + " at " + TimeText(time); }

// What one frame left to report, held until the frames before it are
// reported: the render lists, traces and fails in frame order at any count
// of jobs.
struct FrameReport {
  std::string listing;  // its line on standard output
  std::string problem;  // its line on standard error, if it failed
  std::vector<nlohmann::ordered_json> trace;
};

FrameReport RenderOneFrame(render::FrameLane& lane, std::size_t i, const A_Time& time, const std::string& stem,
                           std::size_t count) {
  FrameReport report;
  const std::string what = FrameText(i, time);
  const int number = static_cast<int>(i + 1);
  hostsim::FrameResult frame = lane.Render(number, time, what);
  report.listing = "frame " + std::to_string(i + 1) + "/" + std::to_string(count) + " at " + TimeText(time) + ": ";
  if (frame.error() != PF_Err_NONE || !frame.output) {
    report.listing += "error " + std::to_string(frame.error());
    report.problem = what + " failed with error " + std::to_string(frame.error());
    const std::vector<std::string> reasons = lane.HostFailuresOf(number, time, what);
    for (std::size_t n = 0; n < reasons.size(); ++n) report.problem += (n == 0 ? ": " : "; ") + reasons[n];
  } else {
    try {
      const std::string path = hostsim::WriteImage(frame.output->world(), stem);
      report.listing += std::to_string(frame.output->width()) + "x" + std::to_string(frame.output->height()) +
                        " -> " + path;
    } catch (const std::runtime_error& e) {
      report.listing += "not written";
      report.problem = e.what();
    }
  }
  report.trace = lane.trace().TakeEntries();
  lane.Done();
  return report;
}

// Every frame, one effect instance around them, in the module's process.
// Frames render `jobs` at a time, each thread through a lane of the one
// instance; what they report is reported in frame order.
int RenderFrames(const RenderOptions& options, const hostsim::Scene& scene, BitDepth depth, int jobs,
                 const std::function<std::string(std::size_t)>& stem_of, ModuleStage& stage) {
  stage.Begin("loading the module");
  const hostsim::Module module(options.module_path);
  const std::size_t count = scene.render.times.size();
  EffectRun run(module, scene, depth, !options.trace_path.empty(), stage);
  std::string problem;
  bool failed = false;
  if (!run.Start(problem)) {
    std::cerr << "render: " << problem << '\n';
    failed = true;
  } else {
    render::RunningStages stages(stage);
    std::vector<std::unique_ptr<render::FrameLane>> lanes;
    for (int t = 0; t < jobs; ++t) lanes.push_back(std::make_unique<render::FrameLane>(run, stages));
    std::vector<FrameReport> reports(count);
    const bool progress = !options.quiet && StandardErrorIsTerminal();
    const auto started = std::chrono::steady_clock::now();
    RunInOrder(
        count, jobs, 4 * static_cast<std::size_t>(jobs),
        [&](int thread, std::size_t i) {
          reports[i] = RenderOneFrame(*lanes[static_cast<std::size_t>(thread)], i, scene.render.times[i], stem_of(i), count);
        },
        [&](std::size_t i) {
          FrameReport report = std::move(reports[i]);
          if (!options.quiet) std::cout << report.listing << '\n';
          if (!report.problem.empty()) {
            // On its own line, below the progress line so far.
            std::cerr << (progress ? "\n" : "") << "render: " << report.problem << '\n';
            failed = true;
          }
          for (nlohmann::ordered_json& entry : report.trace) run.host().trace().Add(std::move(entry));
          if (progress) ShowProgress(i + 1, count, started);
        });
  }
  std::vector<std::string> problems;
  if (!run.Finish(problems)) failed = true;
  for (const std::string& p : problems) std::cerr << "render: " << p << '\n';
  if (!options.trace_path.empty() && !render::WriteTrace(options.trace_path, {&run.host().trace()})) failed = true;
  return failed ? 1 : 0;
}

int RenderScene(const RenderOptions& options) {
  const hostsim::Scene scene = hostsim::LoadSceneFile(options.scene_path, options.memory);
  const BitDepth depth = options.depth ? static_cast<BitDepth>(options.depth) : scene.render.depth;
  const std::uint64_t frame_bytes = FrameBytes(scene, depth);
  options.memory.Require(frame_bytes, "a frame of " + options.scene_path + " at " +
                                          std::to_string(static_cast<int>(depth)) + " bits");
  const std::size_t count = scene.render.times.size();
  // As many frames at once as there are jobs, frames and room in the budget
  // for their worlds.
  const std::uint64_t frames_in_budget = std::max<std::uint64_t>(1, options.memory.bytes / std::max<std::uint64_t>(frame_bytes, 1));
  const int jobs = static_cast<int>(std::min<std::uint64_t>({static_cast<std::uint64_t>(options.jobs), count, frames_in_budget}));
  // What is left once the frames in flight have their worlds may keep
  // pixels between frames.
  hostsim::KeepPixelsWithin(options.memory.bytes - static_cast<std::uint64_t>(jobs) * frame_bytes);
  const int digits = std::max<int>(4, static_cast<int>(std::to_string(count - 1).size()));
  const auto stem_of = [&](std::size_t i) {
    std::ostringstream name;
    name << "frame_" << std::setw(digits) << std::setfill('0') << i;
    return hostsim::PathToUtf8(hostsim::PathFromUtf8(options.out_dir) / name.str());
  };
  // Refused before anything is written, so a refused render changes nothing.
  ProtectedFiles files;
  files.AddInput(options.scene_path);
  files.AddInput(options.module_path);
  render::AddSourcesOf(scene, files);
  for (std::size_t i = 0; i < count; ++i)
    files.ClaimOutput(stem_of(i) + hostsim::ImageExtensionFor(depth), "frame " + std::to_string(i + 1));
  if (!options.trace_path.empty()) files.ClaimOutput(options.trace_path, "the trace");
  return RunModuleInChild("render", options.timeout_seconds,
                          [&](ModuleStage& stage) { return RenderFrames(options, scene, depth, jobs, stem_of, stage); });
}

int RunRender(const RenderOptions& options) {
  if (options.scene_given && options.scene_path.empty()) {
    std::cerr << "render: the scene path is empty; omit it for the demo contact sheet\n";
    return kExitWrongOptions;
  }
  if (options.module_path.empty()) {
    std::cerr << "render: no effect module known to this build; name one with --module\n";
    return kExitWrongOptions;
  }
  std::error_code ec;
  fs::create_directories(hostsim::PathFromUtf8(options.out_dir), ec);
  if (ec) {
    std::cerr << "render: cannot create the output directory '" << options.out_dir << "': " << ec.message() << '\n';
    return kExitFailed;
  }
  return options.scene_path.empty() ? render::RenderDemo(options) : RenderScene(options);
}

}  // namespace

void AddRenderCommand(CLI::App& app) {
  auto options = std::make_shared<RenderOptions>();
  options->module_path = DefaultModulePath();
  CLI::App* command = app.add_subcommand(
      "render",
      "Render frames of a scene file through the effect (one image per time), or without a scene a contact sheet "
      "of the placement modes and timing");
  CLI::Option* scene = command->add_option("scene", options->scene_path, "Scene JSON file; omit for the demo contact sheet");
  command->add_option("--module", options->module_path, "Effect module to load")->capture_default_str();
  command->add_option("--out", options->out_dir, "Directory for the images (made if missing)")->capture_default_str();
  CLI::Option* depth = command->add_option("--depth", options->depth, "Bits per channel, overriding the scene's: 8, 16 or 32")
      ->check(CLI::IsMember({8, 16, 32}));
  command->add_option("--trace", options->trace_path,
                      "Write the host call trace here as JSON Lines (kept in memory only when asked for)");
  command->add_option("--jobs", options->jobs, "Frames of a scene rendered at once, each on a thread of its own "
                                               "(default: the machine's hardware threads); the demo sheet, one "
                                               "image, draws its panels in turn")
      ->check(CLI::Range(1, render::kMaxJobs));
  command->add_flag("--quiet", options->quiet, "List no frames and show no progress line; report only failures");
  AddMemoryBudgetOption(*command, options->memory);
  AddModuleTimeoutOption(*command, options->timeout_seconds);
  command->callback([options, scene, depth] {
    // CLI11 passes an empty value by, leaving the default in place.
    if (depth->count() > 0 && options->depth == 0) {
      std::cerr << "render: --depth: expected 8, 16 or 32, got nothing\n";
      throw CLI::RuntimeError(kExitWrongOptions);
    }
    options->scene_given = scene->count() > 0;
    RunCommand("render", [&] { return RunRender(*options); });
  });
}
