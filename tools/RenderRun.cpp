#include "RenderRun.h"

#include <algorithm>
#include <iostream>
#include <thread>

#include "FileAccess.h"
#include "JsonText.h"
#include "pixels/PixelSource.h"

namespace render {

int DefaultJobs() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

EffectRun::EffectRun(const hostsim::Module& module, const hostsim::Scene& scene, hostsim::BitDepth depth, bool traced,
                     ModuleStage& stage)
    : stage_(stage), host_(module), session_(host_) {
  // Kept only to be written: a trace grows by kilobytes a frame.
  host_.trace().set_enabled(traced);
  host_.SetScene(scene.composition, scene.effect);
  host_.SetDownsample(scene.render.downsample_x, scene.render.downsample_y);
  host_.SetBitDepth(depth);
}

hostsim::FrameResult EffectRun::Render(const A_Time& comp_time, const std::string& what) {
  stage_.Begin(what + " (smart pre-render and smart render)");
  return session_.RenderFrameAtCompTime(comp_time);
}

bool EffectRun::Start(std::string& problem) {
  stage_.Begin("global setup");
  PF_Err err = session_.GlobalSetup();
  started_ = err == PF_Err_NONE;
  if (err != PF_Err_NONE) {
    problem = "global setup failed with error " + std::to_string(err);
    return false;
  }
  stage_.Begin("params setup");
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
  stage_.Begin("update params UI");
  if ((err = session_.UpdateParamsUI()) != PF_Err_NONE) {
    problem = "update params UI failed with error " + std::to_string(err);
    return false;
  }
  return true;
}

bool EffectRun::Finish(std::vector<std::string>& problems) {
  if (started_) {
    stage_.Begin("global setdown");
    const PF_Err down = session_.GlobalSetdown();
    if (down != PF_Err_NONE) problems.push_back("global setdown failed with error " + std::to_string(down));
  }
  const hostsim::Holdings held = host_.holdings();
  if (!held.Empty()) problems.push_back("the module still holds: " + held.Describe());
  for (const std::string& e : host_.errors()) problems.push_back("host noticed: " + e);
  return problems.empty();
}

void RunningStages::Begin(const std::string& what) {
  const std::lock_guard<std::mutex> lock(mutex_);
  running_[std::this_thread::get_id()] = {begun_++, what};
  Tell();
}

void RunningStages::End() {
  const std::lock_guard<std::mutex> lock(mutex_);
  running_.erase(std::this_thread::get_id());
  Tell();
}

void RunningStages::Tell() {
  std::vector<std::pair<std::uint64_t, std::string>> stages;
  for (const auto& [thread, stage] : running_) stages.push_back(stage);
  if (stages.empty()) return;  // the next stage anyone begins is told
  std::sort(stages.begin(), stages.end());
  std::string text = stages.front().second;
  for (std::size_t i = 1; i < stages.size(); ++i) text += " or " + stages[i].second;
  if (text == told_) return;
  told_ = text;
  to_.Begin(text);
}

FrameLane::FrameLane(EffectRun& run, RunningStages& stages)
    : stages_(stages), host_(run.host().NewFrameLane()), session_(*host_) {}

hostsim::FrameResult FrameLane::Render(int number, const A_Time& comp_time, const std::string& what) {
  host_->trace().Clear();
  host_->NumberRecordsForFrame(number);
  stages_.Begin(what + " (smart pre-render and smart render)");
  return session_.RenderFrameAtCompTime(comp_time);
}

std::vector<std::string> FrameLane::HostFailuresOf(int number, const A_Time& comp_time, const std::string& what) {
  hostsim::Trace& trace = host_->trace();
  const bool traced = trace.enabled();
  if (!traced) {
    trace.set_enabled(true);
    Render(number, comp_time, what + " again, traced");
  }
  std::vector<std::string> failures;
  for (const nlohmann::ordered_json& entry : trace.entries()) {
    const auto found = entry.find("host_failure");
    if (found != entry.end()) failures.push_back(found->get<std::string>());
  }
  if (!traced) {
    trace.Clear();
    trace.set_enabled(false);
  }
  return failures;
}

void AddSourcesOf(const hostsim::Scene& scene, ProtectedFiles& files) {
  for (const hostsim::LayerModel& layer : scene.composition.layers) {
    const auto* png = dynamic_cast<const hostsim::PngSource*>(layer.source.get());
    if (png == nullptr) continue;
    const A_long frames = std::max<A_long>(png->frame_count(), 1);
    for (A_long i = 0; i < frames; ++i) files.AddInput(png->PathOf(i));
  }
}

bool WriteTrace(const std::string& path, const std::vector<const hostsim::Trace*>& traces) {
  try {
    if (hostsim::WriteTraceFile(path, traces) > 0)
      std::cerr << "render: " << hostsim::ReplacedTextNotice("the trace " + path) << '\n';
  } catch (const hostsim::FileAccessError& e) {
    std::cerr << "render: " << e.what() << '\n';
    return false;
  }
  std::cout << "trace: " << path << '\n';
  return true;
}

}  // namespace render
