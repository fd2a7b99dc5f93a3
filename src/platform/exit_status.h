// The exit statuses scripts branch on, one definition each, at the bottom of
// the house so that every room can end a run with them.
#pragma once

#include "platform/process_api.h"

namespace stopex {

// Listed; in test mode a match is running; in kill mode at least one was terminated.
inline constexpr int kExitSuccess = 0;
// In test mode none is running; in kill mode none was terminated; or the run
// could not be made (no snapshot functions, no memory, no output written).
inline constexpr int kExitFailure = 1;
// The command line was wrong.
inline constexpr int kExitUsage = 7;
// Kill mode terminated the program itself, which bore the target's name.
inline constexpr int kExitTerminatedItself = static_cast<int>(kTerminateExitCode);

}  // namespace stopex
