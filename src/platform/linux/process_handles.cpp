// The Linux backend's process handles: OpenProcess takes a process the walk
// listed once it is confirmed (confirm.h), TerminateProcess signals it, and
// CloseHandle lets it go. Process handles are odd values, snapshot handles
// even.
#include "platform/linux/process_handles.h"

#include <cstdio>
#include <cstdlib>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/linux/proc_files.h"
#include "platform/linux/snapshot.h"
#include "platform/memory.h"

namespace stopex {
namespace linux_backend {
namespace {

ProcessSlot* g_slots = nullptr;
std::size_t g_slotCount = 0;
std::size_t g_slotsInUse = 0;

Handle HandleForSlot(std::size_t index) { return static_cast<Handle>(index) * 2 + 1; }

Handle NewSlot(const ProcessSlot& slot) {
  std::size_t index = 0;
  while (index < g_slotCount && g_slots[index].kind != SlotKind::Free) ++index;
  if (index == g_slotCount) {
    g_slotCount = Grown(g_slotCount, 16);
    g_slots = static_cast<ProcessSlot*>(Resize(g_slots, g_slotCount, sizeof(ProcessSlot)));
    for (std::size_t i = index; i < g_slotCount; ++i) g_slots[i] = ProcessSlot{};
  }
  g_slots[index] = slot;
  ++g_slotsInUse;
  return HandleForSlot(index);
}

// Process descriptors held open, and how many the process may have open in
// all, less those open when it first needed one (inherited ones among
// them) and a reserve for reading /proc and for the streams: kill mode
// keeps the descriptors of the processes it terminated until they have
// ended, and reaching the limit would make every later /proc read fail.
std::size_t g_heldDescriptors = 0;
std::size_t g_openBefore = 0;
constexpr rlim_t kReservedDescriptors = 64;

// The descriptors open now, the one that lists them left out; 0 where they
// cannot be listed (a descriptor then lacking is still met: see Pin).
std::size_t CountOpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return 0;
  std::size_t count = 0;
  while (const dirent* d = readdir(dir)) count += d->d_name[0] != '.' ? 1 : 0;
  closedir(dir);
  return count > 0 ? count - 1 : 0;
}

bool RoomForDescriptor() {
  static rlim_t limit = 0;
  if (g_slotsInUse == 0) {  // a run's first: count what it was handed
    g_openBefore = CountOpenDescriptors();
    limit = 0;
  }
  const rlim_t needed = g_openBefore + g_heldDescriptors + kReservedDescriptors;
  if (limit == 0 || needed >= limit) {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return false;
    // The soft limit may be raised as far as the hard one.
    if (needed >= files.rlim_cur && RaiseDescriptorLimit()) getrlimit(RLIMIT_NOFILE, &files);
    limit = files.rlim_cur;
  }
  return needed < limit;
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

// Only the process of the entry the walk handed out last can be opened (the
// one state this relies on between two calls, which process_api.h names),
// and only once confirmed to be the process listed: a number freed and
// handed to another process counts as a process that no longer exists
// (error 87).
Handle OpenProcess(std::uint32_t desiredAccess, int /*inheritHandle*/, std::uint32_t processId) {
  if (desiredAccess != kProcessTerminate) return Fail(kErrorAccessDenied);
  ProcessSlot slot;
  if (processId == GetCurrentProcessId()) {
    slot.kind = SlotKind::Self;
    return NewSlot(slot);
  }
  const LastEntry* entry = FindLastEntry(processId);
  if (entry == nullptr) return Fail(kErrorInvalidParameter);
  const Verdict verdict = Pin(*entry, RoomForDescriptor(), &slot.pinned);
  if (verdict.error != 0) return Fail(verdict.error, verdict.reason);
  slot.kind = SlotKind::Process;
  slot.beyondSignal = verdict.beyondSignal;
  if (slot.pinned.fd >= 0) ++g_heldDescriptors;
  HoldRoot(slot.pinned.rootFd);  // the wait reads below it after the snapshot is closed
  return NewSlot(slot);
}

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
  const Verdict verdict = SignalPinned(slot->pinned, slot->beyondSignal);
  if (verdict.error == 0) return 1;
  SetLastError(verdict.error);
  return 0;
}

int CloseHandle(Handle handle) {
  if (CloseSnapshot(handle)) return 1;
  ProcessSlot* slot = SlotForHandle(handle);
  if (slot == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  if (slot->pinned.fd >= 0) {
    close(slot->pinned.fd);
    --g_heldDescriptors;
  }
  if (slot->kind == SlotKind::Process) ReleaseRoot(slot->pinned.rootFd);
  *slot = ProcessSlot{};
  --g_slotsInUse;
  return 1;
}

}  // namespace stopex
