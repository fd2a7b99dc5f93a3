// The Linux backend's process handles: each stands for one process the
// snapshot listed and the backend confirmed, held by a process descriptor
// where the kernel has them.
#pragma once

#include "platform/linux/confirm.h"
#include "platform/process_api.h"

namespace stopex::linux_backend {

enum class SlotKind { Free, Process, Self };

struct ProcessSlot {
  SlotKind kind = SlotKind::Free;
  Pinned pinned;
  bool beyondSignal = false;  // no signal would end it: terminating it fails
};

// The open slot behind a process handle, or null.
ProcessSlot* SlotForHandle(Handle handle);

}  // namespace stopex::linux_backend
