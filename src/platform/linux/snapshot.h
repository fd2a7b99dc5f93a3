// The Linux backend's process snapshot: the processes of /proc, each read
// when its entry is reached, with the name the process list shows and what
// identifies the process behind it.
#pragma once

#include <cstdint>

#include "platform/linux/pid_namespace.h"
#include "platform/process_api.h"

namespace stopex::linux_backend {

// Which executable a process runs: its device and inode, 0 and 0 where it
// has none to be seen (a kernel thread, a process that has gone).
struct ExeId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const ExeId&) const = default;
};

struct Record {
  std::uint32_t pid = 0;
  std::uint64_t startTime = 0;
  char kernelName[32] = {};  // the name the kernel holds, as its stat line gives it
  bool completed = false;    // the listed name was completed from argv[0] or the executable
  char folder[48] = {};      // where it was: the folder it was read from ("N", or a
  ExeId exe;                 // thread's "N/task/T"), and the executable run then
  char name[kExeFileSize] = {};  // as the list shows it
};

// What the walk handed out last: the record, and the /proc it was read from
// (open while the snapshot is) with that /proc's view of the namespaces.
struct Listed {
  Record record;
  int rootFd = -1;
  ProcView view;
};

// The entry the walk handed out last, when it is that of pid; null
// otherwise. Kill mode opens a match right after its entry.
const Listed* FindListed(std::uint32_t pid);

// The executable behind PATH/exe below the root (PATH a number, or
// "N/task/T"): its identity, and whether it has been deleted.
ExeId ReadExeId(int rootFd, const char* path, bool* deleted = nullptr);

// Closes the snapshot behind the handle; false when it is not an open snapshot.
bool CloseSnapshot(Handle handle);

}  // namespace stopex::linux_backend
