// tovane-host: drives the TovaneParvolith effect module through the
// substitute host. Each subcommand registers itself from its own file.

#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

#include <CLI/CLI.hpp>

#include "CommandSupport.h"
#include "Commands.h"

#if defined(_WIN32)
// The arguments as UTF-8. Windows hands main() its arguments in the process's
// code page, where a path with characters outside it arrives mangled; the
// wide command line keeps them, and every file is opened from UTF-8.
std::vector<std::string> Utf8Arguments() {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 0; i < count; ++i) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(bytes > 0 ? static_cast<std::size_t>(bytes - 1) : 0, '\0');
    if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), bytes, nullptr, nullptr);
    arguments.push_back(std::move(text));
  }
  LocalFree(wide);
  return arguments;
}
#endif

int main(int argc, char** argv) {
#if defined(_WIN32)
  std::vector<std::string> utf8 = Utf8Arguments();
  std::vector<char*> utf8_argv;
  for (std::string& argument : utf8) utf8_argv.push_back(argument.data());
  if (!utf8_argv.empty()) {
    argc = static_cast<int>(utf8_argv.size());
    argv = utf8_argv.data();
  }
#endif

  CLI::App app{"Drives the TovaneParvolith effect module through a substitute host.\n"
               "Exit status: 0 success, 1 bad input or a failed run, 2 wrong options."};
  app.require_subcommand(1);

  AddLifecycleCommand(app);
  AddPiplCommand(app);
  AddRenderCommand(app);
  AddValidateCommand(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::RuntimeError& finished) {
    return finished.get_exit_code();
  } catch (const CLI::ParseError& wrong) {
    // Prints the help asked for (status 0) or what was wrong with the options.
    return app.exit(wrong) == 0 ? 0 : kExitWrongOptions;
  }
  return 0;
}
