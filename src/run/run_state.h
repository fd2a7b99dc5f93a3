// Everything one run owns, from the parsed options to the entry record the
// walk refills; the run driver holds it and hands it to the mode actions.
#pragma once

#include <cstdint>
#include <cstdio>

#include "run/run_options.h"
#include "match/target_name.h"
#include "platform/process_api.h"

namespace stopex {

struct RunState {
  RunOptions options;
  RunMode mode = RunMode::List;
  int runStatus = 1;  // becomes the exit status
  char targetName[kTargetNameSize] = {};  // empty unless a target was given
  ProcessApi api;
  Handle snapshot = kInvalidHandleValue;
  ProcessEntry entry;
  // Kill mode: the program's own process matched; it is terminated only
  // after every other match has been attempted.
  bool ownProcessMatched = false;
  std::uint32_t ownProcessId = 0;
  std::FILE* out = nullptr;
  std::FILE* err = nullptr;
};

}  // namespace stopex
