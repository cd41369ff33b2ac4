// Running `tovane-host` as a person does, for the tests of its commands:
// the exit status and both output streams of one command line.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace hostsim::testing {

struct CommandResult {
  int exit_code = -1;
  std::string out, err;
};

inline std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs `tovane-host ARGS` through the shell, its output kept in `dir`. With
// a time limit, a command still running after it is killed and reported
// with exit code -1, so a hang fails a test instead of stopping the run.
// `environment` ("NAME=value NAME=value ") is set for the command alone.
inline CommandResult RunHostCommand(const std::string& args, const std::filesystem::path& dir,
                                    int time_limit_seconds = 0, const std::string& environment = "") {
  const std::string limit =
      time_limit_seconds > 0 ? "timeout -s KILL " + std::to_string(time_limit_seconds) + " " : std::string();
  const std::string command = environment + limit + "\"" + TOVANE_HOST_PATH + "\" " + args + " > \"" + (dir / "stdout").string() +
                              "\" 2> \"" + (dir / "stderr").string() + "\"";
  CommandResult run;
  const int status = std::system(command.c_str());
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = Slurp(dir / "stdout");
  run.err = Slurp(dir / "stderr");
  return run;
}

}  // namespace hostsim::testing
