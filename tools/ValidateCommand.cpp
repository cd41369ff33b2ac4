// `tovane-host validate`: loads a build of the effect module and runs the
// validator's checks against it, one line per check and a verdict, or the
// same as JSON. Exits 1 when any check fails, crashes or times out, 2 when
// the options are wrong.

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "CommandSupport.h"
#include "Commands.h"
#include "JsonText.h"
#include "Validator.h"

namespace {

#if defined(_WIN32)
int DuplicateFd(int fd) { return _dup(fd); }
void MoveFd(int from, int to) { _dup2(from, to); }
void CloseFd(int fd) { _close(fd); }
#else
int DuplicateFd(int fd) { return dup(fd); }
void MoveFd(int from, int to) { dup2(from, to); }
void CloseFd(int fd) { close(fd); }
#endif

struct ValidateOptions {
  hostsim::validate::Options run;
  bool json = false;
  bool list = false;
  bool no_isolate = false;
  std::vector<std::string> skip;  // "id" or "id=reason"
};

int RunValidate(ValidateOptions& options) {
  using hostsim::validate::Catalogue;
  if (options.list) {
    for (const auto& info : Catalogue()) std::cout << info.id << "\n    " << info.description << '\n';
    return 0;
  }
  for (const std::string& id : options.run.only) {
    bool known = false;
    for (const auto& info : Catalogue()) known = known || info.id == id;
    if (!known) {
      std::cerr << "validate: no check has the id \"" << id << "\" (see --list)\n";
      return kExitWrongOptions;
    }
  }
  for (const std::string& item : options.skip) {
    const std::size_t equals = item.find('=');
    options.run.skip.emplace_back(item.substr(0, equals),
                                  equals == std::string::npos ? std::string() : item.substr(equals + 1));
  }
  options.run.isolate = !options.no_isolate;
  if (options.run.module_path.empty()) {
    std::cerr << "validate: no module given and this build knows none (use --module)\n";
    return kExitWrongOptions;
  }
  if (!options.json) {
    // Printed before anything runs, so a run that dies can still be repeated.
    std::cout << "seed " << options.run.seed << '\n' << std::flush;
  }
  // With --json, standard output carries the report alone: whatever the
  // module prints while it is checked goes to standard error instead.
  std::cout.flush();
  std::fflush(stdout);
  const int report_out = options.json ? DuplicateFd(1) : -1;
  if (report_out >= 0) MoveFd(2, 1);
  const hostsim::validate::Report report = hostsim::validate::Validate(options.run);
  if (report_out >= 0) {
    std::cout.flush();
    std::fflush(stdout);
    MoveFd(report_out, 1);
    CloseFd(report_out);
  }
  if (options.json) {
    bool replaced = false;
    std::cout << hostsim::JsonText(report.ToJson(), 2, &replaced) << '\n';
    if (replaced) std::cerr << "validate: " << hostsim::ReplacedTextNotice("the report") << '\n';
  } else {
    report.PrintText(std::cout);
  }
  return report.Passed() ? 0 : 1;
}

}  // namespace

void AddValidateCommand(CLI::App& app) {
  auto options = std::make_shared<ValidateOptions>();
  options->run.module_path = DefaultModulePath();
  CLI::App* command = app.add_subcommand(
      "validate", "Runs the conformance and robustness checks against a build of the effect module");
  command->add_option("--module", options->run.module_path, "Effect module to validate")->capture_default_str();
  command->add_option("--seed", options->run.seed, "Seed of every random choice (printed, so a run can be repeated)")
      ->capture_default_str();
  command->add_flag("--json", options->json, "Print the results as JSON instead of text");
  command->add_flag("--list", options->list, "List the checks and what each checks, then exit");
  command->add_option("--only", options->run.only, "Run only these checks (ids; repeatable)");
  command->add_option("--skip", options->skip, "Leave out a check, as ID or ID=reason (repeatable)");
  // Bounded so that a huge count is a wrong option, not a run that ends as
  // if the module had failed to return.
  command->add_option("--frames", options->run.frames, "Frames of the render sequence")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  command->add_option("--fuzz-cases", options->run.fuzz_cases, "Random scenes of the parameter fuzz")
      ->capture_default_str()
      ->check(CLI::Range(0, 10000000));
  command->add_option("--threads", options->run.threads, "Threads of the concurrent render")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
#if defined(_WIN32)
  command->add_flag("--no-isolate", options->no_isolate,
                    "Has no effect here: this build runs every check in one process, so a module that crashes "
                    "ends the run and one that hangs hangs it");
#else
  command->add_flag("--no-isolate", options->no_isolate,
                    "Run every check in this process (a crash or hang then ends the run instead of being reported)");
#endif
  command->add_option("--timeout", options->run.check_timeout_seconds,
                      "Seconds one check may run before it is ended and reported as TIMEOUT (Linux)")
      ->capture_default_str()
      ->check(CLI::Range(1, 86400));
  command->callback([options] { RunCommand("validate", [&] { return RunValidate(*options); }); });
}
