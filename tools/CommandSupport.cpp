#include "CommandSupport.h"

#include <cstdint>
#include <exception>
#include <iostream>
#include <new>

std::string DefaultModulePath() {
#if defined(TOVANE_DEFAULT_MODULE_PATH)
  return TOVANE_DEFAULT_MODULE_PATH;
#else
  return std::string();
#endif
}

void RunCommand(const char* name, const std::function<int()>& body) {
  int code = kExitFailed;
  try {
    code = body();
  } catch (const std::bad_alloc&) {
    std::cerr << name << ": out of memory; the input asks for more than this machine can give "
              << "(a smaller --memory-budget refuses such input before allocating)\n";
  } catch (const std::exception& error) {
    std::cerr << name << ": " << error.what() << '\n';
  } catch (...) {
    std::cerr << name << ": stopped by an error of unknown type\n";
  }
  if (code != 0) throw CLI::RuntimeError(code);
}

void AddMemoryBudgetOption(CLI::App& command, hostsim::MemoryBudget& budget) {
  command
      .add_option_function<std::uint64_t>(
          "--memory-budget", [&budget](std::uint64_t mib) { budget.bytes = mib * hostsim::MemoryBudget::kBytesPerMiB; },
          "MiB this command may set aside for what its input asks for (default " +
              std::to_string(hostsim::MemoryBudget::kDefaultMiB) + "); larger input is refused")
      ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 30));
}

void AddModuleTimeoutOption(CLI::App& command, int& seconds) {
  command
      .add_option("--timeout", seconds,
                  "Seconds the module may take over one command (a frame, setup) before it is ended and the run "
                  "fails (on Windows, validate runs the module in its own process and has no limit)")
      ->capture_default_str()
      ->check(CLI::Range(1, 86400));
}
