// Confirm before signalling: the one rule by which the Linux backend takes a
// process the walk listed. It is signalled only once it is pinned (by its
// process descriptor where there is one), proven to bear the number /proc
// listed it under, and found by the one identity check, last before the
// signal, to be still the process listed under that name.
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
  bool beyondSignal = false;
};

// A listed process as the backend holds it once opened.
struct Pinned {
  int fd = -1;               // its process descriptor; -1: held by number
  std::uint32_t ownPid = 0;  // its number in the program's own namespace
  int rootFd = -1;           // the /proc it was listed in, read again below
  Record record;             // what the walk listed it as
};

// Opens the process of the walk's last entry: finds its number here, pins it
// by a process descriptor where there is room for one (a descriptor of a
// /proc of another namespace must confirm the number listed), and checks its
// identity. By number alone only where /proc is of the program's own
// namespace.
Verdict Pin(const LastEntry& entry, bool roomForDescriptor, Pinned* pinned);

// Sends SIGKILL to the process pinned, unless Pin found that no signal
// would end it (beyondSignal) or it has ended since: error 5 then. Held by
// number, its identity is checked once more right before the signal.
Verdict SignalPinned(const Pinned& pinned, bool beyondSignal);

// The wait's identity check of a process it cannot poll: whether it is
// still the one listed, and runs. One whose record cannot be read runs
// until a signal 0 finds it gone: "Killed." means gone.
bool CheckIdentityForWait(const Pinned& pinned);

}  // namespace stopex::linux_backend
