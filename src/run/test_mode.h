// Test mode: whether a process with the target's name is running, told by
// the exit status and, unless silenced, one short report.
#pragma once

#include "run/run_state.h"

namespace stopex {

void PrepareTestMode(RunState& state);
void TestModeEntry(RunState& state);
void TestModeReport(RunState& state);

}  // namespace stopex
