// The Linux backend's wait until the processes terminated have ended: a
// process descriptor becomes readable once its process has; a process held
// by number is looked at in /proc.
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include <poll.h>

#include "platform/linux/process_handles.h"
#include "platform/memory.h"
#include "platform/process_api.h"

namespace stopex {

using namespace linux_backend;

namespace {

std::int64_t NowMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// How often a process without a descriptor is looked at again.
constexpr int kRecheckMilliseconds = 2;
// How many polls in a row may be cut short before the processes are looked
// at instead: a signal cuts one short now and then, never each.
constexpr int kRetries = 3;

// Sleeps for the milliseconds, or until a signal cuts the sleep short.
void Pause(std::int64_t milliseconds) {
  const timespec pause{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
  nanosleep(&pause, nullptr);
}

}  // namespace

// A process descriptor becomes readable once its process has ended (gone, or
// a zombie that waits to be collected); a process held by id is looked at in
// /proc until it is gone, a zombie, or its id belongs to another process.
// Where poll fails, but for a signal or a "try again" now and then, every
// process left is looked at so instead, at intervals.
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
    if (slot->pinned.fd >= 0) {
      descriptors[descriptorCount] = {slot->pinned.fd, POLLIN, 0};
      owners[descriptorCount++] = i;
    } else {
      byId[idCount++] = i;
    }
  }
  std::size_t descriptorsLeft = descriptorCount;
  std::size_t idsLeft = idCount;
  int interrupted = 0;  // polls in a row that a signal cut short, or that said to try again
  for (;;) {
    for (std::size_t k = 0; k < idCount; ++k) {
      const std::size_t i = byId[k];
      if (!ended[i] && !StillRuns(SlotForHandle(processes[i])->pinned)) {
        ended[i] = true;
        --idsLeft;
      }
    }
    if (descriptorsLeft + idsLeft == 0) break;
    // Once the time is up, one last look that does not wait.
    const std::int64_t left = deadline - NowMilliseconds();
    std::int64_t timeout = left > 0 ? left : 0;
    if (idsLeft > 0 && timeout > kRecheckMilliseconds) timeout = kRecheckMilliseconds;
    const int ready = descriptorsLeft > 0 ? poll(descriptors, descriptorCount, static_cast<int>(timeout)) : 0;
    interrupted = ready < 0 && (errno == EINTR || errno == EAGAIN) ? interrupted + 1 : 0;
    if (ready < 0 && (interrupted == 0 || interrupted > kRetries)) {
      // Polled no more: each process left is looked at by number from now on.
      for (std::size_t k = 0; k < descriptorCount; ++k) {
        if (descriptors[k].fd >= 0) byId[idCount++] = owners[k];
      }
      idsLeft += descriptorsLeft;
      descriptorsLeft = descriptorCount = 0;
      continue;
    }
    if (descriptorsLeft == 0 && timeout > 0) Pause(timeout);
    for (std::size_t k = 0; ready > 0 && k < descriptorCount; ++k) {
      if (descriptors[k].fd >= 0 && descriptors[k].revents != 0) {
        ended[owners[k]] = true;
        descriptors[k].fd = -1;
        --descriptorsLeft;
      }
    }
    if (left <= 0 && ready >= 0) break;
  }
  std::free(descriptors);
  std::free(owners);
  std::free(byId);
}

}  // namespace stopex
