#include "cli/split_command_line.h"

namespace stopex {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A lead byte followed by a terminator stands alone: the pair never swallows
// the end of the text.
bool StartsPair(const char* p, LeadBytePredicate isLeadByte) {
  return isLeadByte(static_cast<unsigned char>(p[0])) && p[1] != '\0';
}

const char* SkipProgramName(const char* p, LeadBytePredicate isLeadByte) {
  while (IsBlank(*p)) ++p;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') p += StartsPair(p, isLeadByte) ? 2 : 1;
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && !IsBlank(*p)) p += StartsPair(p, isLeadByte) ? 2 : 1;
  }
  return p;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const char* raw, LeadBytePredicate isLeadByte) {
  std::vector<std::string> args;
  const char* p = SkipProgramName(raw, isLeadByte);
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') break;
    std::string arg;
    bool quoted = false;
    while (*p != '\0' && (quoted || !IsBlank(*p))) {
      if (StartsPair(p, isLeadByte)) {
        arg.append(p, 2);
        p += 2;
      } else if (p[0] == '\\' && p[1] == '"') {
        arg.push_back('"');
        p += 2;
      } else if (*p == '"') {
        quoted = !quoted;
        ++p;
      } else {
        arg.push_back(*p++);
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace stopex
