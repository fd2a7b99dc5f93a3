// List mode: every image name in the snapshot, one per line, as delivered.
#pragma once

#include "run/run_state.h"

namespace stopex {

void ListModeEntry(RunState& state);

}  // namespace stopex
