// The Linux backend's wait until the processes terminated have ended: a
// process descriptor becomes readable once its process has; a process held
// by number has its identity checked in /proc (confirm.h).
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

// How often the identity of a process held by number is checked again.
constexpr int kRecheckMilliseconds = 2;
// How many polls in a row may be cut short before the processes are held
// by number instead: a signal cuts one short now and then, never each.
constexpr int kRetries = 3;

// Sleeps for the milliseconds, or until a signal cuts the sleep short.
void Pause(std::int64_t milliseconds) {
  const timespec pause{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
  nanosleep(&pause, nullptr);
}

// The processes waited for that have not ended: those with a descriptor,
// polled together, and those held by number, whose identity is checked.
struct Waiting {
  pollfd* descriptors = nullptr;  // fd -1: ended, passed over
  std::size_t* owners = nullptr;  // the index, among the handles, of each descriptor's process
  std::size_t descriptorCount = 0;
  std::size_t descriptorsLeft = 0;
  std::size_t* byNumber = nullptr;  // the indexes of the processes held by number
  std::size_t numberCount = 0;
  std::size_t numbersLeft = 0;
};

// Sorts the processes by how they are waited for. A handle that is not an
// open process counts as ended. The program's own process never comes here:
// terminating it does not return.
Waiting Sort(const Handle* processes, std::size_t count, bool* ended) {
  Waiting waiting;
  waiting.descriptors = static_cast<pollfd*>(Resize(nullptr, count, sizeof(pollfd)));
  waiting.owners = static_cast<std::size_t*>(Resize(nullptr, count, sizeof(std::size_t)));
  waiting.byNumber = static_cast<std::size_t*>(Resize(nullptr, count, sizeof(std::size_t)));
  for (std::size_t i = 0; i < count; ++i) {
    const ProcessSlot* slot = SlotForHandle(processes[i]);
    ended[i] = slot == nullptr;
    if (ended[i]) continue;
    if (slot->pinned.fd >= 0) {
      waiting.descriptors[waiting.descriptorCount] = {slot->pinned.fd, POLLIN, 0};
      waiting.owners[waiting.descriptorCount++] = i;
    } else {
      waiting.byNumber[waiting.numberCount++] = i;
    }
  }
  waiting.descriptorsLeft = waiting.descriptorCount;
  waiting.numbersLeft = waiting.numberCount;
  return waiting;
}

// Checks the identity of each process held by number that has not ended.
void CheckNumbers(Waiting& waiting, const Handle* processes, bool* ended) {
  for (std::size_t k = 0; k < waiting.numberCount; ++k) {
    const std::size_t i = waiting.byNumber[k];
    if (!ended[i] && !CheckIdentityForWait(SlotForHandle(processes[i])->pinned)) {
      ended[i] = true;
      --waiting.numbersLeft;
    }
  }
}

// Polled no more: each process left is held by number from now on.
void PollNoMore(Waiting& waiting) {
  for (std::size_t k = 0; k < waiting.descriptorCount; ++k) {
    if (waiting.descriptors[k].fd >= 0) waiting.byNumber[waiting.numberCount++] = waiting.owners[k];
  }
  waiting.numbersLeft += waiting.descriptorsLeft;
  waiting.descriptorsLeft = waiting.descriptorCount = 0;
}

// Each process whose descriptor the poll found readable has ended.
void TakeReady(Waiting& waiting, bool* ended) {
  for (std::size_t k = 0; k < waiting.descriptorCount; ++k) {
    if (waiting.descriptors[k].fd >= 0 && waiting.descriptors[k].revents != 0) {
      ended[waiting.owners[k]] = true;
      waiting.descriptors[k].fd = -1;
      --waiting.descriptorsLeft;
    }
  }
}

}  // namespace

// A process descriptor becomes readable once its process has ended (gone, or
// a zombie that waits to be collected); a process held by number has its
// identity checked in /proc until it is gone, a zombie, or its number
// belongs to another process. Where poll fails, but for a signal or a "try
// again" now and then, every process left is held by number instead.
void WaitForProcesses(const Handle* processes, std::size_t count, std::uint32_t milliseconds,
                      bool* ended) {
  const std::int64_t deadline = NowMilliseconds() + milliseconds;
  Waiting waiting = Sort(processes, count, ended);
  int interrupted = 0;  // polls in a row that a signal cut short, or that said to try again
  for (;;) {
    CheckNumbers(waiting, processes, ended);
    if (waiting.descriptorsLeft + waiting.numbersLeft == 0) break;
    // Once the time is up, one last look that does not wait.
    const std::int64_t left = deadline - NowMilliseconds();
    std::int64_t timeout = left > 0 ? left : 0;
    if (waiting.numbersLeft > 0 && timeout > kRecheckMilliseconds) timeout = kRecheckMilliseconds;
    const int ready =
        waiting.descriptorsLeft > 0 ? poll(waiting.descriptors, waiting.descriptorCount, static_cast<int>(timeout)) : 0;
    interrupted = ready < 0 && (errno == EINTR || errno == EAGAIN) ? interrupted + 1 : 0;
    if (ready < 0 && (interrupted == 0 || interrupted > kRetries)) {
      PollNoMore(waiting);
      continue;
    }
    if (waiting.descriptorsLeft == 0 && timeout > 0) Pause(timeout);
    if (ready > 0) TakeReady(waiting, ended);
    if (left <= 0 && ready >= 0) break;
  }
  std::free(waiting.descriptors);
  std::free(waiting.owners);
  std::free(waiting.byNumber);
}

}  // namespace stopex
