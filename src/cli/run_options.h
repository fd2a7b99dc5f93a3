// The parsed command line and the run mode it selects.
#pragma once

namespace stopex {

struct RunOptions {
  const char* target = nullptr;  // the one non-switch argument as typed; null when absent
  int testSwitch = 0;            // the last -t switch decides
  int silent = 0;                // set by a -t switch whose third character is 's'; never cleared
};

enum class RunMode { List, Test, Kill };

RunMode SelectRunMode(const RunOptions& options);

enum class ParseResult { Ok, Usage };

// Examines argv[1..argc-1] in order; argv[0] is never read. Stops at the first
// offending argument and returns Usage, leaving the rest unexamined.
ParseResult ParseCommandLine(int argc, const char* const* argv, RunOptions* options);

}  // namespace stopex
