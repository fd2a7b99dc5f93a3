// The Linux backend's termination: SIGKILL through the process descriptor,
// or by id after the same identity checks where there is none.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/types.h>

#include "platform/linux/pidfd.h"
#include "platform/linux/proc_files.h"
#include "platform/linux/process_handles.h"
#include "platform/process_api.h"

namespace stopex {

using namespace linux_backend;

int TerminateProcess(Handle process, std::uint32_t exitCode) {
  ProcessSlot* slot = SlotForHandle(process);
  if (slot == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  if (slot->kind == SlotKind::Self) {
    // An exit status holds 8 bits: all bits set reads as 255.
    std::fflush(nullptr);
    std::_Exit(static_cast<int>(exitCode & 0xFFu));
  }
  // Like Windows, refuse to terminate a process that has already ended, or
  // has begun to: the kernel would drop the signal and a report would claim
  // a termination that did not happen.
  if (CheckProcess(slot->pid, slot->startTime) != Liveness::Running) {
    SetLastError(kErrorAccessDenied);
    return 0;
  }
  if (slot->kind == SlotKind::ProcessFd) {
    if (PidfdSendSignal(slot->fd, SIGKILL) == 0) return 1;
  } else if (kill(static_cast<pid_t>(slot->pid), SIGKILL) == 0) {
    return 1;
  }
  SetLastError(ErrorFromErrno(errno));
  return 0;
}

}  // namespace stopex
