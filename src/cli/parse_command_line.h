// Turns the argument vector into the options of one run.
#pragma once

#include "run/run.h"

namespace stopex {

enum class ParseResult { Ok, Usage };

// Examines argv[1..argc-1] in order; argv[0] is never read. Stops at the first
// offending argument and returns Usage, leaving the rest unexamined. With every
// argument read, a test switch left on with no target is Usage too where the
// platform says so (TestSwitchNeedsTarget).
ParseResult ParseCommandLine(int argc, const char* const* argv, RunOptions* options);

}  // namespace stopex
