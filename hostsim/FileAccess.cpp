#include "FileAccess.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace hostsim {

namespace fs = std::filesystem;

namespace {

std::string KindText(fs::file_type type) {
  switch (type) {
    case fs::file_type::directory: return "a directory";
    case fs::file_type::fifo: return "a FIFO";
    case fs::file_type::character: return "a character device";
    case fs::file_type::block: return "a block device";
    case fs::file_type::socket: return "a socket";
    default: return "of an unknown kind";
  }
}

long ProcessId() {
#if defined(_WIN32)
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

}  // namespace

fs::path PathFromUtf8(const std::string& utf8) {
#if defined(_WIN32)
  // u8path is deprecated in C++20 but is the only conversion C++17 offers.
  return fs::u8path(utf8);
#else
  return fs::path(utf8);
#endif
}

std::string PathToUtf8(const fs::path& path) {
#if defined(_WIN32)
  return path.u8string();
#else
  return path.string();
#endif
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
#if defined(_WIN32)
  const std::wstring wide_mode(mode, mode + std::strlen(mode));  // modes are ASCII
  return _wfopen(PathFromUtf8(path).c_str(), wide_mode.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

std::uintmax_t RequireRegularFile(const std::string& path, std::uintmax_t max_bytes, const std::string& what) {
  std::error_code ec;
  const fs::file_status status = fs::status(PathFromUtf8(path), ec);
  if (ec || status.type() == fs::file_type::not_found) {
    throw FileAccessError(path + ": cannot open the " + what + (ec ? ": " + ec.message() : ": no such file"));
  }
  if (status.type() != fs::file_type::regular) {
    throw FileAccessError(path + ": the " + what + " is " + KindText(status.type()) + ", not a regular file");
  }
  const std::uintmax_t size = fs::file_size(PathFromUtf8(path), ec);
  if (ec) throw FileAccessError(path + ": cannot read the size of the " + what + ": " + ec.message());
  if (size > max_bytes) {
    throw FileAccessError(path + ": the " + what + " holds " + std::to_string(size) + " bytes, more than the " +
                          std::to_string(max_bytes) + " allowed");
  }
  return size;
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return fs::status(PathFromUtf8(path), ec).type() == fs::file_type::regular && !ec;
}

std::string ReadRegularFile(const std::string& path, std::uintmax_t max_bytes, const std::string& what) {
  RequireRegularFile(path, max_bytes, what);
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) throw FileAccessError(path + ": cannot open the " + what);
  // Read no more than allowed even if the file grew since it was measured.
  std::ostringstream contents;
  char buffer[65536];
  std::uintmax_t total = 0;
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    total += static_cast<std::uintmax_t>(in.gcount());
    if (total > max_bytes) {
      throw FileAccessError(path + ": the " + what + " holds more than the " + std::to_string(max_bytes) +
                            " bytes allowed");
    }
    contents.write(buffer, in.gcount());
  }
  if (in.bad()) throw FileAccessError(path + ": cannot read the " + what);
  return contents.str();
}

void WriteThroughTemporary(const std::string& path, const std::function<void(const std::string&)>& write) {
  const fs::path final_path = PathFromUtf8(path);
  std::error_code ec;
  const fs::file_status status = fs::status(final_path, ec);
  if (!ec && status.type() != fs::file_type::not_found && status.type() != fs::file_type::regular) {
    throw FileAccessError(path + ": cannot write here: it is " + KindText(status.type()) + ", not a regular file");
  }
  // Unique per process and call, so two runs writing the same name never
  // share a temporary file; the rename decides which complete file stays.
  static std::atomic<unsigned> serial{0};
  fs::path temporary = final_path;
  temporary += ".partial-" + std::to_string(ProcessId()) + "-" + std::to_string(serial++);
  const std::string temporary_text = PathToUtf8(temporary);
  try {
    write(temporary_text);
  } catch (...) {
    fs::remove(temporary, ec);
    throw;
  }
  fs::rename(temporary, final_path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw FileAccessError(path + ": cannot replace the file: " + ec.message());
  }
}

fs::path CanonicalPath(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(PathFromUtf8(path), ec);
  if (ec) return PathFromUtf8(path).lexically_normal();
  const fs::path resolved = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : resolved;
}

}  // namespace hostsim
