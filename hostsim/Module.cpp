#include "Module.h"

#include <cstdint>
#include <fstream>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <elf.h>
#endif

#include "FileAccess.h"

namespace hostsim {

namespace {

#if defined(_WIN32)
constexpr const char* kDirectorySeparators = "/\\";
#else
constexpr const char* kDirectorySeparators = "/";
#endif

#if defined(_WIN32)
void* OpenLibrary(const std::string& path, std::string* why) {
  HMODULE library = LoadLibraryW(PathFromUtf8(path).c_str());
  if (library == nullptr) {
    *why = "Windows error " + std::to_string(static_cast<unsigned long>(GetLastError()));
  }
  return reinterpret_cast<void*>(library);
}
void* LookUp(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
// The Windows loader checks an image against the file's length itself.
void RequireWholeImage(const std::string&, std::uintmax_t) {}
#else
// The dynamic loader maps each segment the headers describe without checking
// that the file holds it, and touching a page past the end of the file kills
// the process with SIGBUS. A truncated module is refused here instead.
void RequireWholeImage(const std::string& path, std::uintmax_t file_size) {
  std::ifstream file(path, std::ios::binary);
  Elf64_Ehdr header{};
  if (!file.read(reinterpret_cast<char*>(&header), sizeof header)) return;  // too short: the loader says so
  if (std::string(reinterpret_cast<const char*>(header.e_ident), 4) != ELFMAG ||
      header.e_ident[EI_CLASS] != ELFCLASS64)
    return;
  const auto past_end = [&](std::uint64_t offset, std::uint64_t length) {
    return offset > file_size || length > file_size - offset;
  };
  if (header.e_phentsize != sizeof(Elf64_Phdr) ||
      past_end(header.e_phoff, std::uint64_t{header.e_phnum} * sizeof(Elf64_Phdr)))
    throw ModuleError("effect module '" + path + "' is damaged: its program headers lie past the end of the file");
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  file.seekg(static_cast<std::streamoff>(header.e_phoff));
  file.read(reinterpret_cast<char*>(segments.data()), static_cast<std::streamsize>(segments.size() * sizeof(Elf64_Phdr)));
  for (const Elf64_Phdr& segment : segments) {
    if (segment.p_type == PT_LOAD && past_end(segment.p_offset, segment.p_filesz)) {
      throw ModuleError("effect module '" + path + "' is cut short: it holds " + std::to_string(file_size) +
                        " bytes but its headers describe " + std::to_string(segment.p_offset + segment.p_filesz));
    }
  }
}

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
  // A bare name is the loader's to search for along its own paths.
  const bool names_a_file = path.find_first_of(kDirectorySeparators) != std::string::npos;
  try {
    if (names_a_file) RequireWholeImage(path, RequireRegularFile(path, kMaxModuleBytes, "effect module"));
  } catch (const FileAccessError& refused) {
    throw ModuleError(std::string("cannot load effect module: ") + refused.what());
  }
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
