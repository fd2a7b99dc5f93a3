#include "run/list_mode.h"

#include <cstring>

namespace stopex {

void ListModeEntry(RunState& state) {
  // One write per line: on an unbuffered device each write is a system call.
  char line[kExeFileSize + 1];
  const std::size_t length = strnlen(state.entry.szExeFile, kExeFileSize);
  std::memcpy(line, state.entry.szExeFile, length);
  line[length] = '\n';
  std::fwrite(line, 1, length + 1, state.out);
}

}  // namespace stopex
