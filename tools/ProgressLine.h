// The one updating line a long render shows on a terminal.
#pragma once

#include <chrono>
#include <cstddef>

// Redraws, on standard error, "rendering: 12/60 frames, 24.1 fps, 2 s left"
// for `done` of `total` frames since `started`; with done == total, the
// line ends with the whole run's figures. Call only when standard error is
// a terminal (StandardErrorIsTerminal) and the user did not ask for quiet.
void ShowProgress(std::size_t done, std::size_t total, std::chrono::steady_clock::time_point started);

bool StandardErrorIsTerminal();
