// Kill mode: terminate every process whose image name matches the target and
// report each termination and each failure.
#pragma once

#include "run/run_state.h"

namespace stopex {

// Opens, checks and terminates each match in the walk; after it, waits five
// seconds at the most until every process terminated has ended, names on
// standard error each one still ending then, and only then terminates the
// program's own process when it matched.
extern const ModeSteps kKillMode;

}  // namespace stopex
