// The Linux backend's process snapshot: every process of /proc with the name
// the process list shows and the start time that identifies it.
#pragma once

#include <cstdint>

#include "platform/process_api.h"

namespace stopex::linux_backend {

struct Record {
  std::uint32_t pid;
  std::uint64_t startTime;
  char name[kExeFileSize];
};

// The record of the latest snapshot for pid, or null when it listed none.
// Records stay after the snapshot is closed, so that a process can still be
// checked against the start time the snapshot saw.
const Record* FindRecord(std::uint32_t pid);

// Closes the snapshot behind the handle; false when it is not an open snapshot.
bool CloseSnapshot(Handle handle);

}  // namespace stopex::linux_backend
