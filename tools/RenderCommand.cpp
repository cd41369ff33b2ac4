// `tovane-host render`: renders frames of a scene through the effect module
// and writes them as images; without a scene, renders the contact sheet of
// DemoSheet.cpp, which shows what each placement mode and each kind of
// timing does.

#include <algorithm>
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

// Every frame, one effect instance around them, in the module's process.
int RenderFrames(const RenderOptions& options, const hostsim::Scene& scene, BitDepth depth,
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
    for (std::size_t i = 0; i < count; ++i) {
      const A_Time& time = scene.render.times[i];
      const std::size_t traced_before = run.host().trace().entries().size();
      hostsim::FrameResult frame = run.Render(time, FrameText(i, time));
      std::cout << "frame " << (i + 1) << "/" << count << " at " << TimeText(time) << ": ";
      if (frame.error() != PF_Err_NONE || !frame.output) {
        std::cout << "error " << frame.error() << '\n';
        std::cerr << "render: " << FrameText(i, time) << " failed with error " << frame.error();
        const std::vector<std::string> reasons = run.HostFailuresAt(time, traced_before);
        for (std::size_t n = 0; n < reasons.size(); ++n) std::cerr << (n == 0 ? ": " : "; ") << reasons[n];
        std::cerr << '\n';
        failed = true;
        continue;
      }
      try {
        const std::string path = hostsim::WriteImage(frame.output->world(), stem_of(i));
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
  if (!options.trace_path.empty() && !render::WriteTrace(options.trace_path, {&run.host().trace()})) failed = true;
  return failed ? 1 : 0;
}

int RenderScene(const RenderOptions& options) {
  const hostsim::Scene scene = hostsim::LoadSceneFile(options.scene_path, options.memory);
  const BitDepth depth = options.depth ? static_cast<BitDepth>(options.depth) : scene.render.depth;
  const std::uint64_t frame_bytes = FrameBytes(scene, depth);
  options.memory.Require(frame_bytes, "a frame of " + options.scene_path + " at " +
                                          std::to_string(static_cast<int>(depth)) + " bits");
  hostsim::KeepPixelsWithin(options.memory.bytes - frame_bytes);
  const std::size_t count = scene.render.times.size();
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
                          [&](ModuleStage& stage) { return RenderFrames(options, scene, depth, stem_of, stage); });
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
