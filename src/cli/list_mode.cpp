#include "cli/list_mode.h"

#include <cstring>

namespace stopex {

void ListModeEntry(RunState& state) {
  const char* name = state.entry.szExeFile;
  std::fwrite(name, 1, strnlen(name, kExeFileSize), state.out);
  std::fputc('\n', state.out);
}

}  // namespace stopex
