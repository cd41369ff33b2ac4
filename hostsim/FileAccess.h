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

// Writes `path` through a new file beside it: the new file has a name no
// other user can predict and is created exclusively (never through a link or
// over a file planted at that name), `write` fills it, and the finished file
// is handed to the receiver of finished files (by default renamed over
// `path` at once). The temporary file is removed when `write` throws or
// the rename fails, and the error is passed on naming `path`. Refuses a
// `path` that exists as anything but a regular file.
void WriteThroughTemporary(const std::string& path, const std::function<void(std::FILE* file)>& write);

// Creates one temporary file in `folder` as WriteThroughTemporary would, and
// removes it: a folder that cannot be written (read-only, on a read-only
// volume, not a folder) is found before any work whose files would go
// there. Throws naming the folder, `what` saying what it is for.
void RequireWritableFolder(const std::string& folder, const std::string& what);

// Renames a finished temporary file over its final name; throws naming the
// final name when it cannot, the temporary file then removed.
void CommitTemporary(const std::string& temporary, const std::string& path);

// Where WriteThroughTemporary reports its temporary files: a command that
// runs the module in a child process passes each on to the parent, which
// renames the finished ones only when the child ended well and removes them
// all otherwise. A name is told as `created` before the file is made, so that
// a child that dies on another thread the moment after leaves nothing the
// parent does not know of, and as `abandoned` when it could not be made after
// all (so the parent never removes a file of that name it did not make).
// Without a handoff (empty functions) a finished file is renamed at once.
// Set before any thread writes.
struct TemporaryFileHandoff {
  std::function<void(const std::string& temporary)> created;
  std::function<void(const std::string& temporary)> abandoned;
  std::function<void(const std::string& temporary, const std::string& path)> finished;
};
void SetTemporaryFileHandoff(TemporaryFileHandoff handoff);

// One file as the platform tells files apart. Two paths name the same file
// when their keys are equal (the absolute path with links resolved as far as
// it exists, compared without case on Windows, whose file names ignore it),
// or when both exist and are one file (device and inode; volume and file
// index on Windows), which also catches hard links and short names.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator<(const FileIdentity& other) const {
    return device != other.device ? device < other.device : file < other.file;
  }
};
std::string PathKey(const std::string& path);
// The identity of the file at `path`, following links; false when there is
// none to be had (the file does not exist).
bool IdentityOf(const std::string& path, FileIdentity& identity);

}  // namespace hostsim
