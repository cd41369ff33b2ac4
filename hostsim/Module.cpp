#include "Module.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace hostsim {

namespace {

#if defined(_WIN32)
void* OpenLibrary(const std::string& path, std::string* why) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == nullptr) {
    *why = "Windows error " + std::to_string(static_cast<unsigned long>(GetLastError()));
  }
  return reinterpret_cast<void*>(library);
}
void* LookUp(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
void* OpenLibrary(const std::string& path, std::string* why) {
  // RTLD_LOCAL keeps the module's symbols from resolving against another
  // module loaded into the same process (tests load variants side by side).
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* message = dlerror();
    *why = message != nullptr ? message : "unknown loader error";
  }
  return library;
}
void* LookUp(void* library, const char* name) { return dlsym(library, name); }
void CloseLibrary(void* library) { dlclose(library); }
#endif

}  // namespace

Module::Module(const std::string& path) : path_(path) {
  std::string why;
  library_ = OpenLibrary(path, &why);
  if (library_ == nullptr) {
    throw ModuleError("cannot load effect module '" + path + "': " + why);
  }
  entry_point_ = reinterpret_cast<PF_EntryPointFunc>(LookUp(library_, PF_ENTRY_POINT_NAME));
  if (entry_point_ == nullptr) {
    CloseLibrary(library_);
    library_ = nullptr;
    throw ModuleError("effect module '" + path + "' does not export '" PF_ENTRY_POINT_NAME "'");
  }
}

Module::~Module() {
  if (library_ != nullptr) CloseLibrary(library_);
}

void* Module::FindSymbol(const char* name) const { return LookUp(library_, name); }

void* Module::RequireSymbol(const char* name) const {
  void* symbol = FindSymbol(name);
  if (symbol == nullptr) {
    throw ModuleError("effect module '" + path_ + "' does not export '" + name + "'");
  }
  return symbol;
}

}  // namespace hostsim
