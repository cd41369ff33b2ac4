#include "Trace.h"

#include <cstdio>

#include "FileAccess.h"
#include "JsonText.h"

namespace hostsim {

void Trace::Add(nlohmann::ordered_json entry) {
  if (enabled_) entries_.push_back(std::move(entry));
}

std::size_t Trace::WriteJsonLines(std::ostream& out) const {
  std::size_t replaced_entries = 0;
  for (const nlohmann::ordered_json& entry : entries_) {
    bool replaced = false;
    out << JsonText(entry, -1, &replaced) << '\n';
    replaced_entries += replaced ? 1 : 0;
  }
  return replaced_entries;
}

std::vector<nlohmann::ordered_json> Trace::Calls(const std::string& call) const {
  std::vector<nlohmann::ordered_json> found;
  for (const nlohmann::ordered_json& entry : entries_) {
    if (entry.contains("call") && entry["call"] == call) found.push_back(entry);
  }
  return found;
}

std::vector<nlohmann::ordered_json> Trace::CallsOfLastCommand() const {
  auto end = entries_.end();
  while (end != entries_.begin() && !(end - 1)->contains("command")) --end;
  if (end == entries_.begin()) return {};
  auto begin = end - 1;  // the last command entry itself
  while (begin != entries_.begin() && !(begin - 1)->contains("command")) --begin;
  std::vector<nlohmann::ordered_json> calls;
  for (auto it = begin; it != end; ++it) {
    if (it->contains("call")) calls.push_back(*it);
  }
  return calls;
}

std::vector<std::string> Trace::CallNamesOfLastCommand() const {
  std::vector<std::string> names;
  for (const nlohmann::ordered_json& entry : CallsOfLastCommand()) names.push_back(entry["call"].get<std::string>());
  return names;
}

std::size_t WriteTraceFile(const std::string& path, const std::vector<const Trace*>& traces) {
  std::size_t replaced_entries = 0;
  WriteThroughTemporary(path, [&](std::FILE* out) {
    for (const Trace* trace : traces) {
      for (const nlohmann::ordered_json& entry : trace->entries()) {
        bool replaced = false;
        const std::string line = JsonText(entry, -1, &replaced) + '\n';
        replaced_entries += replaced ? 1 : 0;
        if (std::fwrite(line.data(), 1, line.size(), out) != line.size())
          throw FileAccessError(path + ": cannot write the trace");
      }
    }
  });
  return replaced_entries;
}

}  // namespace hostsim
