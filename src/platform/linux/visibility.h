// Whether /proc shows this user every process: a proc file system mounted
// with hidepid hides other users' processes from all but the privileged.
#pragma once

namespace stopex::linux_backend {

enum class Hiding {
  None,       // /proc shows this user every process
  Invisible,  // it leaves other users' processes out, by design
  Refuses,    // it lists them, and refuses to open them, by design
  Unknown,    // whether it does could not be learned
};

// What /proc hides from this user; where that is not None, why in a few
// words (the text outlives the run).
Hiding LookForHiding(const char** why);

}  // namespace stopex::linux_backend
