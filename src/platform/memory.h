// The one memory policy: a failed allocation ends the run with a message on
// standard error and exit status 1. Nothing carries on from a partial answer,
// and no caller has a failure to handle.
#pragma once

#include <cstddef>

namespace stopex {

// Ends the run for want of memory: "stopex: out of memory" on standard
// error, what standard output holds written out, exit status 1.
[[noreturn]] void EndForWantOfMemory();

// Resizes a block to hold count elements of size bytes each (a null block:
// makes a new one). Never returns null.
void* Resize(void* block, std::size_t count, std::size_t size);

// The capacity an array grows to once it is full: first for an empty one,
// then twice as many each time.
inline std::size_t Grown(std::size_t capacity, std::size_t first) {
  return capacity == 0 ? first : capacity * 2;
}

}  // namespace stopex
