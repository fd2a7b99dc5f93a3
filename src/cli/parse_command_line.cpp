// The command-line rules: switches, the one target, and what earns the usage text.
#include "cli/parse_command_line.h"

#include <cstring>

#include "platform/process_api.h"

namespace stopex {

ParseResult ParseCommandLine(int argc, const char* const* argv, RunOptions* options) {
  *options = RunOptions{};
  // Where the platform takes '/' for a switch, once an argument has begun with
  // '/', '/' introduces switches for the rest of the command line and '-' is
  // an ordinary character. Elsewhere only '-' does, and "/usr/sbin/x" is a
  // target like any other.
  const bool slashSwitches = SlashIntroducesSwitches();
  char switchChar = '-';
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strchr(arg, '?') != nullptr) return ParseResult::Usage;
    if (slashSwitches && arg[0] == '/') switchChar = '/';
    if (arg[0] == switchChar) {
      if (arg[1] == '\0') continue;
      if (arg[1] != 't') return ParseResult::Usage;
      options->testSwitch = arg[2] == '-' ? 0 : 1;
      if (arg[2] == 's') options->silent = 1;
      continue;
    }
    if (options->target != nullptr) return ParseResult::Usage;
    options->target = arg;
  }
  // Only the whole line tells whether a test was left without its target.
  if (options->testSwitch != 0 && options->target == nullptr && TestSwitchNeedsTarget()) return ParseResult::Usage;
  return ParseResult::Ok;
}

}  // namespace stopex
