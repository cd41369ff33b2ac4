// The files a command must not write over: every file it reads, and every
// file it writes itself, so that no output replaces an input or another
// output of the same run. Paths are compared as the platform compares them
// (FileAccess.h: PathKey and IdentityOf), so another spelling of a path, a
// link or, on Windows, another case is caught too.
#pragma once

#include <map>
#include <set>
#include <string>

#include "FileAccess.h"

class ProtectedFiles {
 public:
  // A file the command reads; it may not exist (yet).
  void AddInput(const std::string& path);

  // Claims `path` for an output, `what` saying which ("the trace", "frame 3").
  // Throws FileAccessError naming the path and what it would overwrite when
  // it is an input or was claimed by another output, and naming its folder
  // when no file can be made there (read-only, say): every output is
  // claimed before the module runs, so such a folder is found before any
  // frame is rendered, not at the first write.
  void ClaimOutput(const std::string& path, const std::string& what);

 private:
  // What each key or identity stands for, for the message.
  std::map<std::string, std::string> keys_;
  std::map<hostsim::FileIdentity, std::string> identities_;
  std::set<std::string> folders_;  // found writable, as spelt
};
