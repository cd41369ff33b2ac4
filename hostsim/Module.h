// A loaded effect module: the shared library the host opens by path, and the
// symbols it finds in it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "PF_EntryPoint.h"

namespace hostsim {

// Thrown when a module cannot be opened or lacks its entry point; the message
// names the file and, where it applies, the symbol.
// An effect module is a few megabytes; a larger file is no module to load.
constexpr std::uintmax_t kMaxModuleBytes = std::uintmax_t{1} << 30;

class ModuleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Module {
 public:
  // Opens the library at path and resolves EntryPointFunc.
  explicit Module(const std::string& path);
  ~Module();

  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  const std::string& path() const { return path_; }
  PF_EntryPointFunc entry_point() const { return entry_point_; }

  // Any other exported symbol, or null when the module does not export it.
  void* FindSymbol(const char* name) const;

  // The exported function name cast to FunctionT; throws ModuleError naming
  // the file and the symbol when it is missing.
  template <typename FunctionT>
  FunctionT RequireFunction(const char* name) const {
    return reinterpret_cast<FunctionT>(RequireSymbol(name));
  }

 private:
  void* RequireSymbol(const char* name) const;

  std::string path_;
  void* library_ = nullptr;
  PF_EntryPointFunc entry_point_ = nullptr;
};

}  // namespace hostsim
