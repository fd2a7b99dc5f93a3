// Everything one run owns, from the parsed options to the entry record the
// walk refills; the run driver holds it and hands it to the mode actions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "match/target_name.h"
#include "platform/process_api.h"
#include "run/run_options.h"

namespace stopex {

// Kill mode: the processes terminated during the walk, whose handles are held
// until they have ended. Three arrays side by side, grown together.
struct TerminatedProcess {
  std::uint32_t processId;
  char imageName[kExeFileSize];  // as reported
};
struct TerminatedProcesses {
  Handle* handles = nullptr;
  TerminatedProcess* processes = nullptr;
  bool* ended = nullptr;
  std::size_t count = 0;
  std::size_t capacity = 0;
};

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
  TerminatedProcesses terminated;
  std::FILE* out = nullptr;
  std::FILE* err = nullptr;
};

}  // namespace stopex
