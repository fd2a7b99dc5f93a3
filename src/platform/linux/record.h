// One process's record as the walk lists it: the name the process list
// shows, and what identifies the process behind it.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/linux/proc_files.h"
#include "platform/process_api.h"

namespace stopex::linux_backend {

struct Record {
  std::uint32_t pid = 0;
  std::uint64_t startTime = 0;
  char kernelName[32] = {};  // the name the kernel holds, as its stat line gives it
  bool completed = false;    // the listed name was completed from argv[0] or the executable
  char folder[48] = {};      // where it was: the folder it was read from ("N", or a
                             // thread's "N/task/T", where the first has ended)
  char name[kExeFileSize] = {};  // as the list shows it
};

// Reads the record of the process /proc lists as pid: 0 where it was read,
// else the errno that says why not. ENOENT for a process that is gone or
// has ended (it runs no more and cannot be terminated); any other for one
// whose files cannot be read whole, EXDEV for one covered by another mount
// or whose record bears another number (one process's folder mounted over
// another's): it is not known not to run.
int ReadRecord(int rootFd, std::uint32_t pid, Record* record);

// The name of a process whose kernel name was cut at fifteen bytes, as the
// list shows it: completed from the first argument or the executable's path
// read below folder ("N", or "N/task/T"), where either begins with the
// kernel's name. Read anew, it tells whether the process still bears the
// name it was listed under. 0, or the errno of a file that could not be
// read (an executable this user may not see is no failure: the argument
// stands alone).
int ReadCompletedName(int rootFd, const char* folder, std::string_view kernelName, char (&name)[kExeFileSize]);

}  // namespace stopex::linux_backend
