// The preparation that test and kill modes share: the target as typed turned
// into the upper-cased target name that image names are matched against.
#pragma once

#include "run/run_state.h"

namespace stopex {

// The reduced target copied into state.targetName with the platform's copy,
// then upper-cased by the platform's rules.
void PrepareTargetName(RunState& state);

}  // namespace stopex
