// What one run is asked to do: the options the command line gave, and the
// run mode they select.
#pragma once

namespace stopex {

struct RunOptions {
  const char* target = nullptr;  // the one non-switch argument as typed; null when absent
  int testSwitch = 0;            // the last -t switch decides
  int silent = 0;                // set by a -t switch whose third character is 's'; never cleared
};

enum class RunMode { List, Test, Kill };

RunMode SelectRunMode(const RunOptions& options);

}  // namespace stopex
