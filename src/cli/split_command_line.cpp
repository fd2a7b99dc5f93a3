// Splits a raw single-byte command line into its arguments, program name aside.
#include "cli/split_command_line.h"

#include <cstring>

#include "platform/program_name.h"

namespace stopex {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::size_t ArgumentCapacity(const char* raw) {
  // Every argument takes at least one byte of the text and, but for the
  // first, a blank before it.
  return std::strlen(raw) / 2 + 1;
}

std::size_t SplitCommandLine(const char* raw, LeadBytePredicate isLeadByte, char* storage,
                             const char** argv) {
  std::size_t count = 0;
  const char* p = SkipProgramName(raw, [isLeadByte](const char* at) { return CharacterLength(at, isLeadByte); });
  char* out = storage;
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') break;
    argv[count++] = out;
    bool quoted = false;
    while (*p != '\0' && (quoted || !IsBlank(*p))) {
      if (CharacterLength(p, isLeadByte) == 2) {
        *out++ = *p++;
        *out++ = *p++;
      } else if (p[0] == '\\' && p[1] == '"') {
        *out++ = '"';
        p += 2;
      } else if (*p == '"') {
        quoted = !quoted;
        ++p;
      } else {
        *out++ = *p++;
      }
    }
    *out++ = '\0';
  }
  return count;
}

}  // namespace stopex
