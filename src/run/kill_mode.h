// Kill mode: terminate every process whose image name matches the target and
// report each termination and each failure.
#pragma once

#include "run/run_state.h"

namespace stopex {

void PrepareKillMode(RunState& state);
void KillModeEntry(RunState& state);

// The program's own process, when it matched, is terminated only now, after
// every other match was attempted and the snapshot closed, and only once
// everything reported so far has been written out.
void KillModeAfterWalk(RunState& state);

}  // namespace stopex
