// The Linux backend's termination: SIGKILL through the process descriptor,
// or by id after the same identity checks where there is none; and the wait
// until the terminated processes have ended.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <poll.h>
#include <sys/types.h>

#include "platform/linux/pidfd.h"
#include "platform/linux/proc_files.h"
#include "platform/linux/process_handles.h"
#include "platform/memory.h"
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
  // The same holds for the two the kernel never lets SIGKILL reach: the
  // first process of the program's own namespace (a container's main
  // process, or the machine's init) and a kernel thread that ignores it.
  // The start time is read last, closest to a signal by id.
  if (slot->ownPid == 1 || IgnoresKill(slot->pid) ||
      CheckProcess(slot->pid, slot->startTime) != Liveness::Running) {
    SetLastError(kErrorAccessDenied);
    return 0;
  }
  if (slot->kind == SlotKind::ProcessFd) {
    if (PidfdSendSignal(slot->fd, SIGKILL) == 0) return 1;
  } else if (kill(static_cast<pid_t>(slot->ownPid), SIGKILL) == 0) {
    return 1;
  }
  SetLastError(ErrorFromErrno(errno));
  return 0;
}

namespace {

std::int64_t NowMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// How often a process without a descriptor is looked at again.
constexpr int kRecheckMilliseconds = 2;

}  // namespace

// A process descriptor becomes readable once its process has ended (gone, or
// a zombie that waits to be collected); a process held by id is looked at in
// /proc until it is gone, a zombie, or its id belongs to another process.
void WaitForProcesses(const Handle* processes, std::size_t count, std::uint32_t milliseconds,
                      bool* ended) {
  const std::int64_t deadline = NowMilliseconds() + milliseconds;
  auto* descriptors = static_cast<pollfd*>(Resize(nullptr, count, sizeof(pollfd)));  // -1: ended, passed over
  auto* owners = static_cast<std::size_t*>(Resize(nullptr, count, sizeof(std::size_t)));
  auto* byId = static_cast<std::size_t*>(Resize(nullptr, count, sizeof(std::size_t)));
  std::size_t descriptorCount = 0;
  std::size_t idCount = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const ProcessSlot* slot = SlotForHandle(processes[i]);
    ended[i] = slot == nullptr || slot->kind == SlotKind::Self;
    if (ended[i]) continue;
    if (slot->kind == SlotKind::ProcessFd) {
      descriptors[descriptorCount] = {slot->fd, POLLIN, 0};
      owners[descriptorCount++] = i;
    } else {
      byId[idCount++] = i;
    }
  }
  std::size_t descriptorsLeft = descriptorCount;
  std::size_t idsLeft = idCount;
  while (descriptorsLeft + idsLeft > 0) {
    for (std::size_t k = 0; k < idCount; ++k) {
      const std::size_t i = byId[k];
      const ProcessSlot* slot = SlotForHandle(processes[i]);
      if (!ended[i] && CheckProcess(slot->pid, slot->startTime) == Liveness::Gone) {
        ended[i] = true;
        --idsLeft;
      }
    }
    // Once the time is up, one last look that does not wait.
    const std::int64_t left = deadline - NowMilliseconds();
    std::int64_t timeout = left > 0 ? left : 0;
    if (idsLeft > 0 && timeout > kRecheckMilliseconds) timeout = kRecheckMilliseconds;
    if (poll(descriptors, descriptorCount, static_cast<int>(timeout)) > 0) {
      for (std::size_t k = 0; k < descriptorCount; ++k) {
        if (descriptors[k].fd >= 0 && descriptors[k].revents != 0) {
          ended[owners[k]] = true;
          descriptors[k].fd = -1;
          --descriptorsLeft;
        }
      }
    }
    if (left <= 0) break;
  }
  std::free(descriptors);
  std::free(owners);
  std::free(byId);
}

}  // namespace stopex
