#include "Holdings.h"

#include <sstream>

namespace hostsim {

int Holdings::suites_held() const {
  int total = 0;
  for (const auto& [suite, count] : suites) total += count;
  return total;
}

std::string Holdings::Describe() const {
  std::ostringstream out;
  auto line = [&](const char* what, int count) {
    if (count != 0) out << what << ": " << count << '\n';
  };
  line("global handles", global_handles);
  line("pre-render handles", pre_render_handles);
  line("other handles", other_handles);
  for (const auto& [suite, count] : suites) {
    if (count != 0) out << "suite \"" << suite.first << "\" v" << suite.second << ": " << count << '\n';
  }
  line("effect references", effect_refs);
  line("stream references", stream_refs);
  line("stream values", stream_values);
  line("checked-out parameters", checked_out_params);
  line("checked-out layer pixels", checked_out_layer_pixels);
  std::string text = out.str();
  return text.empty() ? "nothing\n" : text;
}

}  // namespace hostsim
