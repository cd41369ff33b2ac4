// Files the substitute host and its command read and write. A scene, image
// or module path may name anything a person can type: a directory, a FIFO
// that never ends, a device, a file far larger than it should be. Reading
// goes only through regular files of a bounded size, and writing replaces the
// final file in one step, so a failed or interrupted write never leaves a
// truncated file under the final name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace hostsim {

// The message names the file and what is wrong with it.
class FileAccessError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// UTF-8 text as a path, so that names outside ASCII reach the Windows file
// functions as wide characters instead of in the process's code page.
std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// std::fopen of a UTF-8 path: through _wfopen on Windows, so that a name
// outside the code page opens too. Null, with errno set, when it cannot.
std::FILE* OpenFile(const std::string& path, const char* mode);

// The size of the regular file at `path`; throws naming the file when it is
// missing, is something else (a directory, FIFO or device), or holds more
// than `max_bytes`. `what` says what the file was meant to be ("scene file").
std::uintmax_t RequireRegularFile(const std::string& path, std::uintmax_t max_bytes, const std::string& what);

// Whether `path` names an existing regular file; never opens it.
bool IsRegularFile(const std::string& path);

// The whole of a regular file of at most `max_bytes`; throws as above.
std::string ReadRegularFile(const std::string& path, std::uintmax_t max_bytes, const std::string& what);

// Calls `write` with a temporary path beside `path`, then renames the
// temporary file over `path`. The temporary file is removed when `write`
// throws or the rename fails, and the error is passed on. Refuses a `path`
// that exists as anything but a regular file.
void WriteThroughTemporary(const std::string& path, const std::function<void(const std::string& temporary)>& write);

// The absolute path with links resolved as far as the path exists, so that
// two spellings of one file compare equal.
std::filesystem::path CanonicalPath(const std::string& path);

}  // namespace hostsim
