#include "FileAccess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
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
  const std::uintmax_t size = RequireRegularFile(path, max_bytes, what);
  std::FILE* file = OpenFile(path, "rb");
  if (file == nullptr) throw FileAccessError(path + ": cannot open the " + what + ": " + std::strerror(errno));
  // Read into place, held once: the file's own size is what it may take.
  std::string contents;
  contents.reserve(static_cast<std::size_t>(size));
  char buffer[65536];
  std::size_t got = 0;
  bool too_long = false;
  while (!too_long && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    // No more than allowed even if the file grew since it was measured.
    too_long = contents.size() + got > max_bytes;
    if (!too_long) contents.append(buffer, got);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (too_long)
    throw FileAccessError(path + ": the " + what + " holds more than the " + std::to_string(max_bytes) +
                          " bytes allowed");
  if (failed) throw FileAccessError(path + ": cannot read the " + what);
  return contents;
}

namespace {

TemporaryFileHandoff& Handoff() {
  static TemporaryFileHandoff handoff;
  return handoff;
}

// 64 bits from the system's random source: a name another user cannot guess
// before it exists, where a process id and a counter can be.
std::string UnpredictableSuffix() {
  static std::random_device source;
  static std::mutex guard;
  const std::lock_guard<std::mutex> lock(guard);
  const std::uint64_t bits = (std::uint64_t{source()} << 32) ^ source();
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
  return text;
}

// A new file, opened for writing, that did not exist before this call; its
// name in `temporary`. Null with errno set when it cannot be made. With a
// handoff, each name is told before the file is made, and told abandoned
// when it was not.
std::FILE* CreateExclusively(const fs::path& final_path, fs::path& temporary,
                             const TemporaryFileHandoff* handoff = nullptr) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    temporary = final_path;
    temporary += ".partial-" + UnpredictableSuffix();
    if (handoff != nullptr && handoff->created) handoff->created(PathToUtf8(temporary));
#if defined(_WIN32)
    const int fd = _wopen(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
#else
    // O_EXCL fails on any name that exists, a link included; O_NOFOLLOW says so twice.
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    std::FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && file == nullptr) close(fd);
#endif
    if (file != nullptr) return file;
    const int failure = errno;
    std::error_code ignored;
    if (fd >= 0) fs::remove(temporary, ignored);  // made, but no stream could be had on it
    if (handoff != nullptr && handoff->abandoned) handoff->abandoned(PathToUtf8(temporary));
    errno = failure;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

}  // namespace

void WriteThroughTemporary(const std::string& path, const std::function<void(std::FILE*)>& write) {
  const fs::path final_path = PathFromUtf8(path);
  std::error_code ec;
  const fs::file_status status = fs::status(final_path, ec);
  if (!ec && status.type() != fs::file_type::not_found && status.type() != fs::file_type::regular) {
    throw FileAccessError(path + ": cannot write here: it is " + KindText(status.type()) + ", not a regular file");
  }
  fs::path temporary;
  std::FILE* file = CreateExclusively(final_path, temporary, &Handoff());
  if (file == nullptr) {
    const std::string folder = PathToUtf8(final_path.parent_path().empty() ? fs::path(".") : final_path.parent_path());
    throw FileAccessError(path + ": cannot create a file in " + folder + ": " + std::strerror(errno));
  }
  const std::string temporary_text = PathToUtf8(temporary);
  try {
    write(file);
  } catch (...) {
    std::fclose(file);
    fs::remove(temporary, ec);
    throw;
  }
  // Closing is checked too: a full disk may show only when the buffer is flushed.
  const bool written = std::ferror(file) == 0;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    fs::remove(temporary, ec);
    throw FileAccessError(path + ": the write failed: " + std::strerror(errno));
  }
  if (Handoff().finished) {
    Handoff().finished(temporary_text, path);
  } else {
    CommitTemporary(temporary_text, path);
  }
}

void RequireWritableFolder(const std::string& folder, const std::string& what) {
  fs::path probe;
  std::FILE* file = CreateExclusively(PathFromUtf8(folder) / ".write-check", probe);
  if (file == nullptr) {
    throw FileAccessError(folder + ": " + what + " cannot be written to: creating a file there failed: " +
                          std::strerror(errno));
  }
  std::fclose(file);
  std::error_code ec;
  fs::remove(probe, ec);
  if (ec) throw FileAccessError(folder + ": " + what + ": a file made there cannot be removed: " + ec.message());
}

void CommitTemporary(const std::string& temporary, const std::string& path) {
  std::error_code ec;
  fs::rename(PathFromUtf8(temporary), PathFromUtf8(path), ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(PathFromUtf8(temporary), ignored);
    throw FileAccessError(path + ": cannot replace the file: " + ec.message());
  }
}

void SetTemporaryFileHandoff(TemporaryFileHandoff handoff) { Handoff() = std::move(handoff); }

std::string PathKey(const std::string& path) {
  std::error_code ec;
  fs::path resolved = fs::absolute(PathFromUtf8(path), ec);
  if (ec) resolved = PathFromUtf8(path);
  fs::path canonical = fs::weakly_canonical(resolved, ec);
  if (ec) canonical = resolved.lexically_normal();
#if defined(_WIN32)
  // Upper case as the file system compares names: the invariant locale's
  // mapping, not the C runtime's, which in the "C" locale maps ASCII only.
  std::wstring wide = canonical.wstring();
  if (!wide.empty()) {
    std::wstring upper(wide.size(), L'\0');
    const int mapped = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                                     static_cast<int>(wide.size()), upper.data(), static_cast<int>(upper.size()),
                                     nullptr, nullptr, 0);
    if (mapped == static_cast<int>(wide.size())) wide = upper;
  }
  return PathToUtf8(fs::path(wide));
#else
  return canonical.string();
#endif
}

bool IdentityOf(const std::string& path, FileIdentity& identity) {
#if defined(_WIN32)
  // No access asked for: the identity is readable from a file open elsewhere,
  // and FILE_FLAG_BACKUP_SEMANTICS opens directories too.
  const HANDLE handle = CreateFileW(PathFromUtf8(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) return false;
  identity.device = info.dwVolumeSerialNumber;
  identity.file = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
#else
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return false;
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.file = static_cast<std::uint64_t>(status.st_ino);
  return true;
#endif
}

}  // namespace hostsim
