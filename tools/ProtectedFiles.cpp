#include "ProtectedFiles.h"

void ProtectedFiles::AddInput(const std::string& path) {
  static const std::string kInput = "a file this command reads";
  keys_.emplace(hostsim::PathKey(path), kInput);
  hostsim::FileIdentity identity;
  if (hostsim::IdentityOf(path, identity)) identities_.emplace(identity, kInput);
}

void ProtectedFiles::ClaimOutput(const std::string& path, const std::string& what) {
  const std::string key = hostsim::PathKey(path);
  hostsim::FileIdentity identity;
  const bool exists = hostsim::IdentityOf(path, identity);
  const std::string* earlier = nullptr;
  if (const auto same = keys_.find(key); same != keys_.end()) earlier = &same->second;
  if (const auto same = identities_.find(identity); earlier == nullptr && exists && same != identities_.end())
    earlier = &same->second;
  if (earlier != nullptr)
    throw hostsim::FileAccessError(path + ": " + what + " would overwrite " + *earlier + "; choose another path");
  const std::string claimed = what + " (" + path + ")";
  keys_.emplace(key, claimed);
  if (exists) identities_.emplace(identity, claimed);
  // Once for each folder, however many frames go there. A path that is no
  // regular file (a device, say) is the writer's to refuse as such.
  if (exists && !hostsim::IsRegularFile(path)) return;
  const std::string folder = hostsim::PathToUtf8(hostsim::PathFromUtf8(path).parent_path());
  if (folders_.insert(folder).second)
    hostsim::RequireWritableFolder(folder.empty() ? "." : folder, "the folder of " + claimed);
}
