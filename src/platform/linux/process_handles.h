// The Linux backend's process handles: each stands for one process the
// snapshot saw, held by a process descriptor where the kernel has them.
#pragma once

#include <cstdint>

#include "platform/process_api.h"

namespace stopex::linux_backend {

enum class SlotKind { Free, ProcessFd, ProcessId, Self };

struct ProcessSlot {
  SlotKind kind = SlotKind::Free;
  int fd = -1;                 // the process descriptor (ProcessFd)
  std::uint32_t pid = 0;       // as /proc lists it
  std::uint32_t ownPid = 0;    // the same process's number in the program's own namespace
  std::uint64_t startTime = 0; // as the snapshot saw it
};

// The open slot behind a process handle, or null.
ProcessSlot* SlotForHandle(Handle handle);

}  // namespace stopex::linux_backend
