#include "CheckContext.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <sstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "JsonText.h"
#include "pixels/PixelSource.h"

namespace hostsim::validate {

namespace {

std::uint32_t MixSeed(std::uint32_t seed, const std::string& id) {
  // FNV-1a over the id, folded with the run's seed.
  std::uint32_t hash = 2166136261u ^ seed;
  for (unsigned char c : id) hash = (hash ^ c) * 16777619u;
  return hash;
}

void RunBody(const std::string& what, const std::function<void(CaseOutcome&)>& body, CaseOutcome& outcome) {
  try {
    body(outcome);
  } catch (const std::exception& failure) {
    outcome.failures.push_back(what + ": the host stopped with an exception: " + failure.what());
  } catch (...) {
    outcome.failures.push_back(what + ": the host stopped with an exception of unknown type");
  }
}

}  // namespace

CheckContext::CheckContext(const Module& module, const Options& options, const std::string& id)
    : module_(module), options_(options), seed_(MixSeed(options.seed, id)), random_(seed_) {
  result_.id = id;
}

void CheckContext::Fail(const std::string& what) {
  result_.failures.push_back(what);
  result_.outcome = Outcome::kFail;
}

void CheckContext::Skip(const std::string& reason) {
  result_.outcome = Outcome::kSkip;
  result_.skip_reason = reason;
}

#if !defined(_WIN32)
namespace {

// Set in every case's child: a case inside a case does not start a process
// group of its own, so that ending the outer case ends everything it started.
bool in_case_child = false;

void WriteAll(int fd, const std::string& text) {
  const char* at = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = write(fd, at, left);
    if (written <= 0) return;
    at += written;
    left -= static_cast<std::size_t>(written);
  }
}

}  // namespace
#endif

CaseOutcome RunCase(bool isolate, const std::string& what, const std::function<void(CaseOutcome&)>& body,
                    int timeout_seconds) {
  CaseOutcome outcome;
#if defined(_WIN32)
  (void)isolate;
  (void)timeout_seconds;
  RunBody(what, body, outcome);
  return outcome;
#else
  if (!isolate) {
    RunBody(what, body, outcome);
    return outcome;
  }
  int fds[2];
  if (pipe(fds) != 0) {
    RunBody(what, body, outcome);
    return outcome;
  }
  const bool own_group = !in_case_child;
  const pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    RunBody(what, body, outcome);
    return outcome;
  }
  if (child == 0) {
    close(fds[0]);
    if (own_group) setpgid(0, 0);
    in_case_child = true;
    CaseOutcome mine;
    RunBody(what, body, mine);
    WriteAll(fds[1], JsonText(nlohmann::ordered_json{{"failures", mine.failures}, {"data", mine.data}}));
    close(fds[1]);
    _exit(0);
  }
  if (own_group) setpgid(child, child);  // also here, so no kill can come before the child's own call
  close(fds[1]);
  // Everything the case started goes when it ends, or when it runs too long:
  // a process it left behind could hold the pipe open for ever.
  const auto end_case = [&] { kill(own_group ? -child : child, SIGKILL); };

  // The timeout is kept here, not by an alarm in the child, which the module
  // could block or reset.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  std::string text;
  char buffer[65536];
  int status = 0;
  bool exited = false;
  for (;;) {
    pollfd ready{fds[0], POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      outcome.timed_out = true;
      break;
    }
    const int polled = poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
    if (polled > 0) {
      const ssize_t got = read(fds[0], buffer, sizeof(buffer));
      if (got > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      if (got == 0) break;  // every writer is gone
    }
    siginfo_t ended{};
    if (waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == child) {
      exited = true;
      // What the child wrote before it ended is still in the pipe.
      fcntl(fds[0], F_SETFL, O_NONBLOCK);
      ssize_t got;
      while ((got = read(fds[0], buffer, sizeof(buffer))) > 0) text.append(buffer, static_cast<std::size_t>(got));
      break;
    }
  }
  close(fds[0]);
  // At the end of the pipe the child is about to exit, and is waited for;
  // past the deadline it is killed first. It is reaped only after what it
  // started is ended, so its id cannot meanwhile pass to another process.
  if (!exited && !outcome.timed_out) {
    siginfo_t ended{};
    while (waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
  }
  end_case();
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (outcome.timed_out) {
    outcome.crashed = true;
    outcome.crash = "timed out after " + std::to_string(timeout_seconds) + " s";
    return outcome;
  }
  if (WIFSIGNALED(status)) {
    outcome.crashed = true;
    const int signal_number = WTERMSIG(status);
    outcome.crash = "killed by signal " + std::to_string(signal_number) + " (" + strsignal(signal_number) + ")";
    return outcome;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    outcome.crashed = true;
    outcome.crash = "exited with status " + std::to_string(WEXITSTATUS(status));
    return outcome;
  }
  try {
    const auto parsed = nlohmann::ordered_json::parse(text);
    outcome.failures = parsed.at("failures").get<std::vector<std::string>>();
    outcome.data = parsed.at("data");
  } catch (const std::exception& failure) {
    outcome.crashed = true;
    outcome.crash = std::string("sent an unreadable report: ") + failure.what();
  }
  return outcome;
#endif
}

std::string Ordinal(int n) {
  const int last_two = n % 100;
  const char* suffix = "th";
  if (last_two < 11 || last_two > 13) {
    switch (n % 10) {
      case 1: suffix = "st"; break;
      case 2: suffix = "nd"; break;
      case 3: suffix = "rd"; break;
      default: break;
    }
  }
  return std::to_string(n) + suffix;
}

std::string CommandName(PF_Cmd cmd) {
  switch (cmd) {
    case PF_Cmd_ABOUT: return "About";
    case PF_Cmd_GLOBAL_SETUP: return "GlobalSetup";
    case PF_Cmd_GLOBAL_SETDOWN: return "GlobalSetdown";
    case PF_Cmd_PARAMS_SETUP: return "ParamsSetup";
    case PF_Cmd_UPDATE_PARAMS_UI: return "UpdateParamsUI";
    case PF_Cmd_SMART_PRE_RENDER: return "SmartPreRender";
    case PF_Cmd_SMART_RENDER: return "SmartRender";
    default: return "command " + std::to_string(static_cast<long long>(cmd));
  }
}

std::string RectText(const PF_LRect& rect) {
  std::ostringstream out;
  out << '(' << rect.left << ", " << rect.top << ", " << rect.right << ", " << rect.bottom << ')';
  return out.str();
}

std::string HeldText(const Holdings& held) {
  Holdings shown = held;
  shown.checked_out_layer_pixels = 0;  // the host takes these back when the pass ends
  std::string text = shown.Describe();
  // Describe gives one "kind: count" per line; join them.
  std::string joined;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    if (!joined.empty()) joined += ", ";
    joined += line;
  }
  return joined;
}

std::vector<std::string> TakeMisuse(Host& host) {
  std::vector<std::string> misuse = host.errors();
  host.ClearErrors();
  return misuse;
}

void ExpectCleanCommand(Host& host, const std::string& what, std::vector<std::string>& failures,
                        bool global_handle_stays) {
  Holdings held = host.held_after_last_command();
  if (global_handle_stays) held.other_handles = 0;
  if (!held.NothingButHostKeptHandles()) {
    Holdings shown = held;
    shown.global_handles = 0;
    shown.pre_render_handles = 0;
    failures.push_back(what + " left held: " + HeldText(shown));
  }
  for (const std::string& misuse : TakeMisuse(host)) failures.push_back(what + " misused the host: " + misuse);
}

CompositionModel StandardComposition() {
  CompositionModel comp;
  comp.width = 96;
  comp.height = 54;
  comp.frame_rate = 30.0;
  // A frame is 100 ticks, not 1: an effect that passes a time step of its
  // own, or 1, instead of the host's is seen.
  comp.time_scale = 3000;

  LayerModel effect_layer;
  effect_layer.id = kEffectLayer;
  effect_layer.name = "effect";
  effect_layer.width = 96;
  effect_layer.height = 54;
  effect_layer.in_point = {0, 30};
  effect_layer.duration = {600, 30};
  effect_layer.source = std::make_shared<CheckerSource>(kEffectLayerCheckerCell, 96, 54);

  LayerModel cards;
  cards.id = kCardLayer;
  cards.name = "cards";
  cards.width = 64;
  cards.height = 36;
  cards.in_point = {60, 30};
  cards.duration = {300, 30};
  cards.source = std::make_shared<FrameCardSource>("cards");

  LayerModel tall;
  tall.id = kOtherSizeLayer;
  tall.name = "tall";
  tall.width = 40;
  tall.height = 100;
  tall.start = {-30, 30};
  tall.in_point = {0, 30};
  tall.duration = {120, 30};
  tall.source = std::make_shared<GradientSource>();

  LayerModel empty;
  empty.id = kEmptyLayer;
  empty.name = "no pixels";
  empty.width = 50;
  empty.height = 50;
  empty.in_point = {0, 30};
  empty.duration = {600, 30};

  comp.layers = {effect_layer, cards, tall, empty};
  return comp;
}

EffectSettings StandardSettings(A_long chosen_layer) {
  EffectSettings settings;
  settings.on_layer = kEffectLayer;
  settings.controls = {{controls::kLayer, chosen_layer},
                       {controls::kMode, controls::kWhole},
                       {controls::kTimeType, controls::kPercent},
                       {controls::kTimePercent, 50},
                       {controls::kTimeSec, 1.5}};
  return settings;
}

bool SetUpEffect(Session& session, std::vector<std::string>& failures) {
  const PF_Err setup = session.GlobalSetup();
  if (setup != PF_Err_NONE) {
    failures.push_back("GlobalSetup returned " + std::to_string(setup) + " on a host that refuses nothing");
    return false;
  }
  const PF_Err params = session.ParamsSetup();
  if (params != PF_Err_NONE) {
    failures.push_back("ParamsSetup returned " + std::to_string(params) + " on a host that refuses nothing");
    return false;
  }
  return true;
}

bool SetUpEffect(Session& session, CheckContext& ctx) {
  std::vector<std::string> failures;
  const bool ready = SetUpEffect(session, failures);
  for (const std::string& failure : failures) ctx.Fail(failure);
  return ready;
}

}  // namespace hostsim::validate
