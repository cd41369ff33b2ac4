// `tovane-host lifecycle`: runs the effect through everything but rendering
// and shows what it declared and said, and every host call it made.

#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "CommandSupport.h"
#include "Commands.h"
#include "FileAccess.h"
#include "JsonText.h"
#include "ModuleProcess.h"
#include "ProtectedFiles.h"
#include "Session.h"
#include "EffectControls.h"

namespace {

struct LifecycleOptions {
  std::string module_path;
  std::string trace_path;
  int timeout_seconds = 600;  // for one command of the module
};

const char* TypeName(PF_ParamType type) {
  switch (type) {
    case PF_Param_LAYER: return "layer";
    case PF_Param_POPUP: return "popup";
    case PF_Param_FIX_SLIDER: return "fixed slider";
    case PF_Param_FLOAT_SLIDER: return "float slider";
    default: return "other";
  }
}

void PrintParam(std::ostream& out, PF_ParamIndex index, const PF_ParamDef& def) {
  out << "  " << index << " \"" << std::string(def.name, strnlen(def.name, sizeof(def.name))) << "\" "
      << TypeName(def.param_type) << " id " << def.uu.id << " flags 0x" << std::hex << def.flags << std::dec;
  switch (def.param_type) {
    case PF_Param_POPUP:
      out << ": " << def.u.pd.num_choices << " choices \"" << (def.u.pd.u.namesptr ? def.u.pd.u.namesptr : "")
          << "\", default " << def.u.pd.dephault;
      break;
    case PF_Param_LAYER:
      out << ": default " << def.u.ld.dephault;
      break;
    case PF_Param_FIX_SLIDER:
      out << ": valid " << def.u.fd.valid_min / 65536.0 << ".." << def.u.fd.valid_max / 65536.0 << ", slider "
          << def.u.fd.slider_min / 65536.0 << ".." << def.u.fd.slider_max / 65536.0 << ", default "
          << def.u.fd.dephault / 65536.0 << ", precision " << def.u.fd.precision << ", display flags "
          << def.u.fd.display_flags;
      break;
    case PF_Param_FLOAT_SLIDER:
      out << ": valid " << def.u.fs_d.valid_min << ".." << def.u.fs_d.valid_max << ", slider "
          << def.u.fs_d.slider_min << ".." << def.u.fs_d.slider_max << ", default " << def.u.fs_d.dephault
          << ", precision " << def.u.fs_d.precision << ", curve tolerance " << def.u.fs_d.curve_tolerance;
      break;
    default:
      break;
  }
  out << '\n';
}

// The About text with its carriage return shown, so the terminal does not
// overwrite the first line with the second.
std::string Printable(const std::string& text) {
  std::string shown;
  for (char c : text) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else {
      shown += c;
    }
  }
  return shown;
}

// Every command of the lifecycle, in the module's process.
int RunCommands(const LifecycleOptions& options, ModuleStage& stage) {
  stage.Begin("loading the module");
  const auto module = std::make_unique<hostsim::Module>(options.module_path);

  hostsim::Host host(*module);
  hostsim::Session session(host);
  bool failed = false;
  auto step = [&](const std::string& what, const std::function<PF_Err()>& command) {
    stage.Begin(what);
    const PF_Err err = command();
    std::cout << what << ": " << err << '\n';
    failed = failed || err != PF_Err_NONE;
  };

  std::cout << "module: " << module->path() << '\n';
  step("global setup", [&] { return session.GlobalSetup(); });
  const PF_OutData setup = session.out_data();
  std::cout << "  version 0x" << std::hex << setup.my_version << ", out_flags 0x" << setup.out_flags
            << ", out_flags2 0x" << setup.out_flags2 << std::dec << '\n';

  step("params setup", [&] { return session.ParamsSetup(); });
  std::cout << "  num_params " << session.out_data().num_params << '\n';
  for (std::size_t i = 0; i < host.declared_params().size(); ++i) {
    PrintParam(std::cout, static_cast<PF_ParamIndex>(i + 1), host.declared_params()[i]);
  }

  namespace controls = hostsim::controls;
  for (A_long time_type : {controls::kPercent, controls::kSecond}) {
    const std::string what =
        "update params UI (" + std::string(controls::kTimeType) + " " + std::to_string(time_type) + ")";
    step(what, [&] { return session.UpdateParamsUI(controls::kTimeType, time_type); });
    std::cout << "  hidden: " << controls::kTimePercent << " "
              << host.stream_hidden(host.DeclaredIndex(controls::kTimePercent)) << ", " << controls::kTimeSec << " "
              << host.stream_hidden(host.DeclaredIndex(controls::kTimeSec)) << '\n';
  }

  step("about", [&] { return session.About(); });
  std::cout << "  \"" << Printable(session.about_text()) << "\"\n";

  step("global setdown", [&] { return session.GlobalSetdown(); });

  const hostsim::Holdings held = host.holdings();
  std::cout << "held afterwards: " << held.Describe();
  failed = failed || !held.Empty();
  for (const std::string& error : host.errors()) std::cout << "host noticed: " << error << '\n';
  failed = failed || !host.errors().empty();

  if (options.trace_path.empty()) {
    std::cout << "trace:\n";
    if (host.trace().WriteJsonLines(std::cout) > 0)
      std::cerr << "lifecycle: " << hostsim::ReplacedTextNotice("the trace") << '\n';
  } else {
    if (hostsim::WriteTraceFile(options.trace_path, {&host.trace()}) > 0)
      std::cerr << "lifecycle: " << hostsim::ReplacedTextNotice("the trace " + options.trace_path) << '\n';
    std::cout << "trace: " << options.trace_path << '\n';
  }
  return failed ? 1 : 0;
}

int RunLifecycle(const LifecycleOptions& options) {
  if (options.module_path.empty()) {
    std::cerr << "lifecycle: no effect module known to this build; name one with --module\n";
    return kExitWrongOptions;
  }
  if (!options.trace_path.empty()) {
    // Refused before the module runs, so a refused command changes nothing.
    ProtectedFiles files;
    files.AddInput(options.module_path);
    files.ClaimOutput(options.trace_path, "the trace");
  }
  return RunModuleInChild("lifecycle", options.timeout_seconds,
                          [&](ModuleStage& stage) { return RunCommands(options, stage); });
}

}  // namespace

void AddLifecycleCommand(CLI::App& app) {
  auto options = std::make_shared<LifecycleOptions>();
  options->module_path = DefaultModulePath();
  CLI::App* command = app.add_subcommand(
      "lifecycle", "Global setup, params setup, the visibility update, About and global setdown, traced");
  command->add_option("--module", options->module_path, "Effect module to load")->capture_default_str();
  command->add_option("--trace", options->trace_path, "Write the call trace here as JSON Lines instead of printing it");
  AddModuleTimeoutOption(*command, options->timeout_seconds);
  command->callback([options] { RunCommand("lifecycle", [&] { return RunLifecycle(*options); }); });
}
