#include "Trace.h"

#include <fstream>

#include "FileAccess.h"

namespace hostsim {

void Trace::Add(nlohmann::ordered_json entry) {
  if (enabled_) entries_.push_back(std::move(entry));
}

void Trace::WriteJsonLines(std::ostream& out) const {
  for (const nlohmann::ordered_json& entry : entries_) out << entry.dump() << '\n';
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

void WriteTraceFile(const std::string& path, const std::vector<const Trace*>& traces) {
  WriteThroughTemporary(path, [&](const std::string& temporary) {
    std::ofstream out(PathFromUtf8(temporary));
    for (const Trace* trace : traces) trace->WriteJsonLines(out);
    out.flush();
    if (!out) throw FileAccessError(path + ": cannot write the trace");
  });
}

}  // namespace hostsim
