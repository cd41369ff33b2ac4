// What JSON text will cost before it is parsed. A parser builds a value for
// every number, string and container the text holds, and the scene reader
// keeps, for each container open, where it is; so text of a few kilobytes
// nested tens of thousands deep, or megabytes of tiny values, takes time
// and memory far beyond its size. A scan of the text, in its own time and
// no memory, finds both before the parser starts.
#pragma once

#include <cstddef>
#include <string>

#include "MemoryBudget.h"

namespace hostsim {

// Empty when `text` nests no deeper than `max_depth` and its parsed values
// fit in `budget`; otherwise why not, saying where (line and byte) for the
// depth, and the figures for the memory.
std::string JsonBoundsProblem(const std::string& text, std::size_t max_depth, const MemoryBudget& budget);

}  // namespace hostsim
