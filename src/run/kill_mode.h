// Kill mode: terminate every process whose image name matches the target and
// report each termination and each failure.
#pragma once

#include "run/run_state.h"

namespace stopex {

void PrepareKillMode(RunState& state);
void KillModeEntry(RunState& state);

// Waits, five seconds at the most, until every process the walk terminated
// has ended, and names on standard error each one that is still ending then.
// The program's own process, when it matched, is terminated only after that,
// once everything reported so far has been written out.
void KillModeAfterWalk(RunState& state);

}  // namespace stopex
