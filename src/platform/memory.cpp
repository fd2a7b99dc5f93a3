// The memory policy's one implementation, shared by every backend.
#include "platform/memory.h"

#include <cstdio>
#include <cstdlib>

#include "platform/exit_status.h"

namespace stopex {

void EndForWantOfMemory() {
  std::fputs("stopex: out of memory\n", stderr);
  std::exit(kExitFailure);  // exit writes out what standard output holds
}

void* Resize(void* block, std::size_t count, std::size_t size) {
  const bool fits = size == 0 || count <= static_cast<std::size_t>(-1) / size;
  void* resized = fits ? std::realloc(block, count * size == 0 ? 1 : count * size) : nullptr;
  if (resized == nullptr) EndForWantOfMemory();
  return resized;
}

}  // namespace stopex
