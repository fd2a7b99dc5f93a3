// Confirm before signalling: the one rule by which the Linux backend takes a
// process the walk listed. It is signalled only once it is pinned (by its
// process descriptor where there is one), proven to bear the number /proc
// listed it under, and read once more, last before the signal, to be still
// the process listed under that name.
#pragma once

#include <cstdint>

#include "platform/linux/snapshot.h"

namespace stopex::linux_backend {

// What a check found: error 0 where the process is the one listed, else the
// Windows error code to report and what the code does not say (null where
// it says all).
struct Verdict {
  std::uint32_t error = 0;
  const char* reason = nullptr;
  // The process is the one listed, but no signal would end it: it has begun
  // to end already, or is a kernel thread or the first process of the
  // program's own namespace. Terminating it fails, as on Windows (error 5).
  bool unending = false;
};

// A listed process as the backend holds it once opened.
struct Pinned {
  int fd = -1;               // its process descriptor; -1: held by number
  std::uint32_t ownPid = 0;  // its number in the program's own namespace
  int rootFd = -1;           // the /proc it was listed in, read again below
  Record listed;
};

// Opens the process listed: finds its number here, pins it by a process
// descriptor where there is room for one (a descriptor of a /proc of another
// namespace must confirm the number listed), and reads it a last time. By
// number alone only where /proc is of the program's own namespace.
Verdict Pin(const Listed& listed, bool roomForDescriptor, Pinned* pinned);

// Sends SIGKILL to the process pinned, unless Pin found that no signal
// would end it (unending) or it has ended since: error 5 then. Held by
// number, it is looked at once more right before the signal.
Verdict Terminate(const Pinned& pinned, bool unending);

// Whether the process pinned is still the one listed and runs: the wait's
// look at a process it cannot poll. One whose record cannot be read runs
// until a signal 0 finds it gone: "Killed." means gone.
bool StillRuns(const Pinned& pinned);

}  // namespace stopex::linux_backend
