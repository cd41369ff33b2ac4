#include "ProgressLine.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

void ShowProgress(std::size_t done, std::size_t total, std::chrono::steady_clock::time_point started) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double fps = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  // "\r" returns to the line's start; the line is padded to one width so
  // that it covers what a longer one left, with no escape sequence that a
  // console might print as it is.
  char rate[64];
  std::string line;
  if (done < total) {
    const double left = fps > 0 ? static_cast<double>(total - done) / fps : 0.0;
    std::snprintf(rate, sizeof rate, "%.1f fps, %.0f s left", fps, left);
    line = "rendering: " + std::to_string(done) + "/" + std::to_string(total) + " frames, " + rate;
  } else {
    std::snprintf(rate, sizeof rate, "%.1f s, %.1f fps", seconds, fps);
    line = "rendered: " + std::to_string(total) + " frames in " + rate;
  }
  std::fprintf(stderr, "\r%-72s%s", line.c_str(), done < total ? "" : "\n");
  std::fflush(stderr);
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}
