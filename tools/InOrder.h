// Work on several threads whose results are handed on in order: frames
// rendered at once and written, listed and traced as one thread would.
#pragma once

#include <cstddef>
#include <functional>

// Runs work(thread, i) for every i in [0, count) on `threads` threads (the
// calling one among them), each taking the next i, and deliver(i) for each
// i in order once it and every i before it are done: one deliver at a time,
// on whichever thread finished the last of them. At most `window` items are
// begun and not yet delivered, which bounds the results waiting to be
// delivered. The first exception work or deliver throws stops the others
// taking more and is rethrown once every thread has ended.
void RunInOrder(std::size_t count, int threads, std::size_t window,
                const std::function<void(int thread, std::size_t i)>& work,
                const std::function<void(std::size_t i)>& deliver);
