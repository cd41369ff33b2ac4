// What every subcommand of tovane-host shares: the exit statuses, the edge
// where anything a command throws becomes one line and a status, the memory
// budget option and the module loaded by default. The command files call
// these; main.cpp only registers the commands (Commands.h).
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

// --timeout SECONDS: how long the module may take over one command (one
// frame, say) before it is ended and the run reported as failed.
void AddModuleTimeoutOption(CLI::App& command, int& seconds);

// The effect module the commands load unless --module names another: the
// one this build produced, when the build knows it.
std::string DefaultModulePath();
