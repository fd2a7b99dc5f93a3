// Kill mode: terminate every process whose image name matches the target and
// report each termination and each failure.
#pragma once

#include "run/run_state.h"

namespace stopex {

// Kill mode's three steps, which the driver calls at its fixed points.

// Before the snapshot is taken: the target name and the program's own id.
void PrepareKillMode(RunState& state);

// For every entry, right after the walk handed it out: opens, checks and
// terminates it when it matches.
void KillModeEntry(RunState& state);

// Once the snapshot is closed: waits five seconds at the most until every
// process terminated has ended, names on standard error each one still
// ending then, and only then terminates the program's own process when it
// matched.
void KillModeAfterWalk(RunState& state);

}  // namespace stopex
