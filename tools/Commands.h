// The subcommands of tovane-host. Each lives in its own file and registers
// itself on the application; main.cpp only calls these.
#pragma once

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "MemoryBudget.h"

// The exit status of every subcommand besides 0: the input (a file, the
// module) was bad or the run failed, or the command line itself was wrong.
constexpr int kExitFailed = 1;
constexpr int kExitWrongOptions = 2;

// Runs a subcommand's body from its CLI11 callback. Anything that escapes the
// body is printed as one line starting with `name`, and ends the command with
// kExitFailed; a non-zero status reaches main as CLI::RuntimeError.
void RunCommand(const char* name, const std::function<int()>& body);

// --memory-budget MiB: what a command may set aside for what its input asks
// for, refused beyond it before anything is allocated.
void AddMemoryBudgetOption(CLI::App& command, hostsim::MemoryBudget& budget);

// `lifecycle`: global setup, params setup, the visibility update for both
// time types, About and global setdown, with the parameters, the About text
// and the call trace printed.
void AddLifecycleCommand(CLI::App& app);

// `pipl`: prints and checks the plug-in property list of a Windows module
// or of a bare list file.
void AddPiplCommand(CLI::App& app);

// `render`: renders frames of a scene file.
void AddRenderCommand(CLI::App& app);

// `validate`: runs the validator's checks against a build of the module.
void AddValidateCommand(CLI::App& app);

// The effect module the commands load unless --module names another: the
// one this build produced, when the build knows it.
std::string DefaultModulePath();
