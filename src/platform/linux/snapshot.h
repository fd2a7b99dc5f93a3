// The Linux backend's process snapshot: the processes of /proc, each one's
// record read when its entry is reached, and the entry handed out last, the
// one OpenProcess may open.
#pragma once

#include <cstdint>

#include "platform/linux/pid_namespace.h"
#include "platform/linux/record.h"
#include "platform/process_api.h"

namespace stopex::linux_backend {

// What the walk handed out last: the record, and the /proc it was read from
// (open while the snapshot is) with that /proc's view of the namespaces.
struct LastEntry {
  Record record;
  int rootFd = -1;
  ProcView view;
};

// The entry the walk handed out last, when it is that of pid; null
// otherwise. OpenProcess opens no other: process_api.h lets a backend
// refuse every other id, and kill mode opens a match right after its entry.
const LastEntry* FindLastEntry(std::uint32_t pid);

// Counts a record of a process the walk listed that could not be read after
// it, by the wait: DescribeUnreadProcesses says it with the walk's.
void CountUnreadAfterWalk(int error);

// Closes the snapshot behind the handle; false when it is not an open snapshot.
bool CloseSnapshot(Handle handle);

}  // namespace stopex::linux_backend
