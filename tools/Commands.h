// The subcommands of tovane-host. Each lives in its own file and registers
// itself on the application; main.cpp only calls these.
#pragma once

#include <CLI/CLI.hpp>

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
