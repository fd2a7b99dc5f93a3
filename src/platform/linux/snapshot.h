// The Linux backend's process snapshot: the processes of /proc, each read
// when its entry is reached, with the name the process list shows and the
// start time that identifies it.
#pragma once

#include <cstdint>

#include "platform/process_api.h"

namespace stopex::linux_backend {

struct Record {
  std::uint32_t pid;
  std::uint64_t startTime;
  char name[kExeFileSize];
};

// The record of the entry the walk handed out last, when it is that of pid;
// null otherwise. Kill mode opens a match right after its entry, and the
// record stays after the snapshot is closed, so that the process can be
// checked against the start time the walk saw.
const Record* FindRecord(std::uint32_t pid);

// Reads the record of the process /proc lists as pid, as the walk would
// give it now; false for a process that is gone or has ended, or whose
// files cannot be read whole.
bool ReadRecord(int rootFd, std::uint32_t pid, Record* record);
bool ReadRecordNow(std::uint32_t pid, Record* record);

// Closes the snapshot behind the handle; false when it is not an open snapshot.
bool CloseSnapshot(Handle handle);

}  // namespace stopex::linux_backend
