// One run: what the command line asks for, the mode that selects, and the
// driver that makes the one walk over a snapshot of the running processes.
#pragma once

#include <cstdio>

namespace stopex {

struct RunOptions {
  const char* target = nullptr;  // the one non-switch argument as typed; null when absent
  int testSwitch = 0;            // the last -t switch decides
  int silent = 0;                // set by a -t switch whose third character is 's'; never cleared
};

enum class RunMode { List, Test, Kill };

inline RunMode SelectRunMode(const RunOptions& options) {
  if (options.testSwitch != 0) return RunMode::Test;
  return options.target == nullptr ? RunMode::List : RunMode::Kill;
}

// Runs once with the parsed options and returns the exit status.
int Run(const RunOptions& options, std::FILE* out, std::FILE* err);

}  // namespace stopex
