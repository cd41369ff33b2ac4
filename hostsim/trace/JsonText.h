// The one way JSON leaves the substitute host and its commands as text (the
// trace, the validator's report and the messages between its processes).
// nlohmann::json refuses to write a string that is not UTF-8, and such
// strings arrive: a parameter name a module declares, a path, a reason given
// on the command line. Here each invalid byte is written as U+FFFD instead,
// and the caller learns that it was, to say so.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace hostsim {

// `indent` as nlohmann's dump takes it (-1: one line). `replaced`, when
// given, is set to whether any byte had to be replaced.
std::string JsonText(const nlohmann::ordered_json& value, int indent = -1, bool* replaced = nullptr);
std::string JsonText(const nlohmann::json& value, int indent = -1, bool* replaced = nullptr);

// The sentence a command prints when it wrote replaced text, naming `what`.
std::string ReplacedTextNotice(const std::string& what);

}  // namespace hostsim
