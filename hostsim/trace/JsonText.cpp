#include "JsonText.h"

namespace hostsim {

namespace {

template <typename Json>
std::string Text(const Json& value, int indent, bool* replaced) {
  // Written strictly first: only text that holds a bad byte pays for a
  // second pass, and the first pass tells that it does.
  if (replaced != nullptr) *replaced = false;
  try {
    return value.dump(indent);
  } catch (const nlohmann::json::type_error&) {
    if (replaced != nullptr) *replaced = true;
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
  }
}

}  // namespace

std::string JsonText(const nlohmann::ordered_json& value, int indent, bool* replaced) {
  return Text(value, indent, replaced);
}

std::string JsonText(const nlohmann::json& value, int indent, bool* replaced) { return Text(value, indent, replaced); }

std::string ReplacedTextNotice(const std::string& what) {
  return what + " held text that is not UTF-8; each invalid byte was written as U+FFFD";
}

}  // namespace hostsim
