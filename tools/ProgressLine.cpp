#include "ProgressLine.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

void ShowProgress(std::size_t done, std::size_t total, std::chrono::steady_clock::time_point started) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double fps = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  // "\r" returns to the line's start and "\033[K" clears what a longer line
  // left; both are understood by the terminals of every platform built for.
  if (done < total) {
    const double left = fps > 0 ? static_cast<double>(total - done) / fps : 0.0;
    std::fprintf(stderr, "\rrendering: %zu/%zu frames, %.1f fps, %.0f s left\033[K", done, total, fps, left);
  } else {
    std::fprintf(stderr, "\rrendered: %zu frames in %.1f s, %.1f fps\033[K\n", total, seconds, fps);
  }
  std::fflush(stderr);
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}
