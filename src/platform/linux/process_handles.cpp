#include "platform/linux/process_handles.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/linux/pid_namespace.h"
#include "platform/linux/pidfd.h"
#include "platform/linux/proc_files.h"
#include "platform/linux/snapshot.h"
#include "platform/memory.h"

namespace stopex {
namespace linux_backend {
namespace {

ProcessSlot* g_slots = nullptr;
std::size_t g_slotCount = 0;

// Process handles are odd values, snapshot handles even.
Handle HandleForSlot(std::size_t index) { return static_cast<Handle>(index) * 2 + 1; }

Handle NewSlot(const ProcessSlot& slot) {
  for (std::size_t i = 0; i < g_slotCount; ++i) {
    if (g_slots[i].kind == SlotKind::Free) {
      g_slots[i] = slot;
      return HandleForSlot(i);
    }
  }
  // None free: doubled, and the new ones free but for the first.
  const std::size_t index = g_slotCount;
  g_slotCount = index == 0 ? 16 : index * 2;
  g_slots = static_cast<ProcessSlot*>(Resize(g_slots, g_slotCount, sizeof(ProcessSlot)));
  for (std::size_t i = index; i < g_slotCount; ++i) g_slots[i] = ProcessSlot{};
  g_slots[index] = slot;
  return HandleForSlot(index);
}

// Process descriptors held open, and how many the process may have open in
// all, less a reserve for reading /proc and for the streams: kill mode keeps
// the descriptors of the processes it terminated until they have ended, and
// reaching the limit would make every later /proc read fail.
std::size_t g_heldDescriptors = 0;
constexpr rlim_t kReservedDescriptors = 64;

bool RoomForDescriptor() {
  static rlim_t limit = 0;
  if (limit == 0 || g_heldDescriptors + kReservedDescriptors >= limit) {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return false;
    if (g_heldDescriptors + kReservedDescriptors >= files.rlim_cur && files.rlim_cur < files.rlim_max) {
      files.rlim_cur = files.rlim_max;  // the soft limit may be raised as far as the hard one
      if (setrlimit(RLIMIT_NOFILE, &files) != 0) getrlimit(RLIMIT_NOFILE, &files);
    }
    limit = files.rlim_cur;
  }
  return g_heldDescriptors + kReservedDescriptors < limit;
}

Handle Fail(std::uint32_t code, const char* text = nullptr) {
  SetLastError(code, text);
  return kNullHandle;
}

}  // namespace

ProcessSlot* SlotForHandle(Handle handle) {
  if (handle % 2 == 0 || handle == kInvalidHandleValue) return nullptr;
  const std::size_t index = static_cast<std::size_t>(handle / 2);
  if (index >= g_slotCount || g_slots[index].kind == SlotKind::Free) return nullptr;
  return &g_slots[index];
}

}  // namespace linux_backend

using namespace linux_backend;

namespace {

// A call that a system-call filter refused, rather than the process: the
// kernel has the call, but this program may not make it. A filter answers
// ENOSYS, or EPERM, which pidfd_open itself never gives, and which a signal
// gives only where kill() by id is refused as well.
bool RefusedByFilter(int error, bool open, pid_t pid) {
  if (error == ENOSYS) return true;
  if (error != EPERM) return false;
  return open || kill(pid, 0) == 0;
}

// Whether the process /proc lists as pid is still the one the walk listed:
// the same start time and the same name, read now.
bool StillAsListed(const Record& listed) {
  Record now{};
  return ReadRecordNow(listed.pid, &now) && now.startTime == listed.startTime &&
         std::strcmp(now.name, listed.name) == 0;
}

// Whether the last read failed for want of file descriptors; errno is
// cleared before each read this asks about.
bool OutOfDescriptors() { return errno == EMFILE || errno == ENFILE; }

// Why a process was not taken by descriptor, where it is to be taken by id.
const char* g_noDescriptor = nullptr;

// Takes the process by descriptor: true with the slot filled, or false with
// errno, ENOSYS where it is to be taken by id instead (g_noDescriptor says why).
bool TakeByDescriptor(ProcessSlot* slot, const Record& listed, Mapping mapping) {
  // Without room for one more descriptor, the process is held by id instead.
  if (!RoomForDescriptor()) {
    g_noDescriptor = kDescriptorsExhausted;
    errno = ENOSYS;
    return false;
  }
  const int fd = PidfdOpen(static_cast<int>(slot->ownPid));
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE) {
      g_noDescriptor = kDescriptorsExhausted;
      errno = ENOSYS;
    } else if (RefusedByFilter(errno, true, 0)) {
      g_noDescriptor = kDescriptorsRefused;
      errno = ENOSYS;
    }
    return false;
  }
  // The descriptor pins one process. That it bears the number /proc lists,
  // then that what /proc lists under that number is still what the walk saw,
  // and last that the pinned process still holds its number (a signal 0
  // reaches it), prove that the files read were the pinned process's own.
  int error = 0;
  errno = 0;
  const Mapping confirmed = mapping == Mapping::Certain ? mapping : ConfirmDescriptor(fd, slot->pid);
  if (confirmed == Mapping::Unknown) {
    error = OutOfDescriptors() ? errno : EPROTO;
  } else if (confirmed != Mapping::Certain || !StillAsListed(listed)) {
    error = OutOfDescriptors() ? errno : ESRCH;
  } else if (PidfdSendSignal(fd, 0) != 0) {
    error = errno;
    if (RefusedByFilter(error, false, static_cast<pid_t>(slot->ownPid))) {
      g_noDescriptor = kDescriptorsRefused;
      error = ENOSYS;
    }
  }
  if (error == 0) {
    slot->kind = SlotKind::ProcessFd;
    slot->fd = fd;
    ++g_heldDescriptors;
    return true;
  }
  close(fd);
  errno = error;
  return false;
}

}  // namespace

Handle OpenProcess(std::uint32_t desiredAccess, int /*inheritHandle*/, std::uint32_t processId) {
  if (desiredAccess != kProcessTerminate) return Fail(kErrorAccessDenied);
  if (processId == GetCurrentProcessId()) {
    ProcessSlot self;
    self.kind = SlotKind::Self;
    self.pid = processId;
    return NewSlot(self);
  }
  // Only the process of the entry the walk handed out last can be opened
  // (kill mode opens each match right after its entry), and only while it
  // is still the process listed: an id that was freed and handed to another
  // process counts as a process that no longer exists, and so does one that
  // has no number in the program's own namespace.
  const Record* record = FindRecord(processId);
  if (record == nullptr) return Fail(kErrorInvalidParameter);
  ProcessSlot slot;
  slot.pid = processId;
  slot.startTime = record->startTime;
  const Mapping mapping = MapListedProcess(CurrentView(), processId, &slot.ownPid);
  if (mapping == Mapping::NoNumber) return Fail(OutOfDescriptors() ? kErrorTooManyOpenFiles : kErrorInvalidParameter);
  if (mapping == Mapping::Unknown) return Fail(kErrorAccessDenied, kUntoldNamespace);

  if (TakeByDescriptor(&slot, *record, mapping)) return NewSlot(slot);
  if (errno == EPROTO) return Fail(kErrorAccessDenied, kUntoldNamespace);
  if (errno != ENOSYS) return Fail(ErrorFromErrno(errno));

  // No process descriptor to be had: the same checks by id, where the
  // number here is known to be the process's own. A number freed and handed
  // to another process between the last check and the signal cannot be told.
  if (mapping != Mapping::Certain) return Fail(kErrorAccessDenied, g_noDescriptor);
  slot.kind = SlotKind::ProcessId;
  errno = 0;
  if (!StillAsListed(*record)) return Fail(OutOfDescriptors() ? kErrorTooManyOpenFiles : kErrorInvalidParameter);
  if (kill(static_cast<pid_t>(slot.ownPid), 0) != 0) return Fail(ErrorFromErrno(errno));
  return NewSlot(slot);
}

int CloseHandle(Handle handle) {
  if (CloseSnapshot(handle)) return 1;
  ProcessSlot* slot = SlotForHandle(handle);
  if (slot == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  if (slot->fd >= 0) {
    close(slot->fd);
    --g_heldDescriptors;
  }
  *slot = ProcessSlot{};
  return 1;
}

}  // namespace stopex
