// The run driver: one walk over a snapshot of the running processes, each
// entry handed to the selected mode, and the resulting exit status.
#pragma once

#include <cstdio>

#include "run/run_options.h"

namespace stopex {

// Runs once with the parsed options and returns the exit status.
int Run(const RunOptions& options, std::FILE* out, std::FILE* err);

}  // namespace stopex
