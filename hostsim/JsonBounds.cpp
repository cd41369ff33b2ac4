#include "JsonBounds.h"

#include <cstdint>

namespace hostsim {

namespace {

// What one parsed value may take at most: the value itself, its place in
// the array or object holding it (with an object member's key), and the
// allocation behind a string or container. Generous, so that the estimate
// bounds what a parser really takes.
constexpr std::uint64_t kBytesPerValue = 96;

}  // namespace

std::string JsonBoundsProblem(const std::string& text, std::size_t max_depth, const MemoryBudget& budget) {
  std::size_t depth = 0, line = 1;
  std::uint64_t values = 1;
  bool in_string = false, escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        in_string = true;
        ++values;  // a string value or an object's key
        break;
      case '[':
      case '{':
        if (++depth > max_depth)
          return "nested more than " + std::to_string(max_depth) + " deep at line " + std::to_string(line) +
                 ", byte " + std::to_string(i + 1) + "; a scene needs a few levels";
        ++values;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;  // the parser reports the mismatch
        break;
      case ',':
        ++values;
        break;
      case '\n':
        ++line;
        break;
      default:
        break;
    }
  }
  const std::uint64_t need = values * kBytesPerValue + text.size();
  if (need > budget.bytes) {
    try {
      budget.Require(need, "its " + std::to_string(values) + " values once read");
    } catch (const MemoryBudgetError& refused) {
      return refused.what();
    }
  }
  return std::string();
}

}  // namespace hostsim
