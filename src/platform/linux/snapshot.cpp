// The walk over /proc: the process numbers it holds, then each process's
// record (record.h), read when its entry is reached; what the walk could not
// read; and the binding of the walk's entry points.
#include "platform/linux/snapshot.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "platform/linux/record.h"
#include "platform/linux/visibility.h"
#include "platform/memory.h"

namespace stopex {
namespace linux_backend {
namespace {

// One snapshot at a time: the numbers /proc held when it was taken, and the
// entry handed out last. Each process's files are read when its entry is
// reached, so that memory does not grow with the number of processes
// beyond four bytes each.
struct Snapshot {
  std::uint32_t* pids = nullptr;
  std::size_t count = 0;
  std::size_t capacity = 0;
  std::size_t next = 0;
  LastEntry current;            // current.record.pid is 0 before the first entry
  Handle handle = kNullHandle;  // even values; zero before the first snapshot
  bool open = false;
  // Records of the last walk that could not be read, and the first reason:
  // those refused (which hidepid does by design) apart from the rest.
  std::size_t refused = 0;
  int firstRefusal = 0;
  std::size_t unread = 0;
  int firstUnread = 0;
};
Snapshot g_snapshot;

// A record refused may be what /proc's hidepid does by design, but never
// to a process of this user's own, nor where whose it is cannot be told.
void CountUnread(Snapshot* snapshot, int rootFd, std::uint32_t pid, int error) {
  char folder[16];
  std::snprintf(folder, sizeof folder, "%u", pid);
  struct stat owner {};
  if ((error == EACCES || error == EPERM) && fstatat(rootFd, folder, &owner, AT_SYMLINK_NOFOLLOW) == 0 &&
      owner.st_uid != geteuid()) {
    if (snapshot->refused++ == 0) snapshot->firstRefusal = error;
  } else if (snapshot->unread++ == 0) {
    snapshot->firstUnread = error;
  }
}

// A process list that cannot be read is a failure, never an empty list: the
// reason is the system's own.
Handle Unreadable(int error) {
  SetReadError(nullptr, error);
  return kInvalidHandleValue;
}

long ReadEntries(int fd, void* data, std::size_t size) { return syscall(SYS_getdents64, fd, data, size); }

// Reads the numbers of the processes below the open root, in ascending
// order; false with errno where the folder cannot be read to its end. The
// folder is read with getdents64 itself: the C library's readdir takes
// ENOENT for the end of a folder that was removed, which /proc never is.
bool ReadNumbers(int rootFd, Snapshot* snapshot) {
  alignas(8) static char entries[32768];
  snapshot->count = 0;
  for (;;) {
    const long n = RetryInterrupted(ReadEntries, rootFd, entries, sizeof entries);
    if (n < 0) return false;
    if (n == 0) break;
    for (long at = 0; at < n;) {
      const auto* d = reinterpret_cast<const dirent64*>(entries + at);
      at += d->d_reclen;
      std::uint32_t pid = 0;
      if (!ParseProcessId(d->d_name, &pid)) continue;
      if (snapshot->count == snapshot->capacity) {
        snapshot->capacity = Grown(snapshot->capacity, 1024);
        snapshot->pids = static_cast<std::uint32_t*>(Resize(snapshot->pids, snapshot->capacity, sizeof(std::uint32_t)));
      }
      snapshot->pids[snapshot->count++] = pid;
    }
  }
  std::sort(snapshot->pids, snapshot->pids + snapshot->count);
  return true;
}

Handle CreateSnapshot(std::uint32_t /*flags*/, std::uint32_t /*processId*/) {
  Snapshot& snapshot = g_snapshot;
  if (snapshot.open) CloseSnapshot(snapshot.handle);
  snapshot.refused = snapshot.unread = 0;
  const int rootFd = OpenRoot();
  if (rootFd < 0) return Unreadable(errno);
  ProcView view;
  if (const char* why = WhyNotProcRoot(rootFd)) {
    SetLastError(kErrorInvalidParameter, why);
    ReleaseRoot(rootFd);
    return kInvalidHandleValue;
  }
  if (!ReadView(rootFd, &view)) {
    ReleaseRoot(rootFd);
    return kInvalidHandleValue;
  }
  if (!ReadNumbers(rootFd, &snapshot)) {
    const int error = errno;
    ReleaseRoot(rootFd);
    return Unreadable(error);
  }
  snapshot.current = LastEntry{};
  snapshot.current.rootFd = rootFd;
  snapshot.current.view = view;
  snapshot.handle += 2;
  snapshot.open = true;
  snapshot.next = 0;
  return snapshot.handle;
}

int FillEntry(Handle handle, ProcessEntry* entry, bool first) {
  Snapshot& snapshot = g_snapshot;
  if (handle != snapshot.handle || !snapshot.open) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  if (entry == nullptr || entry->dwSize != sizeof(ProcessEntry)) {
    SetLastError(kErrorBadLength);
    return 0;
  }
  if (first) {
    snapshot.next = 0;
    snapshot.refused = snapshot.unread = 0;
    snapshot.firstRefusal = snapshot.firstUnread = 0;
  }
  while (snapshot.next < snapshot.count) {
    const std::uint32_t pid = snapshot.pids[snapshot.next++];
    const int error = ReadRecord(snapshot.current.rootFd, pid, &snapshot.current.record);
    if (error != 0 && !SaysGone(error)) CountUnread(&snapshot, snapshot.current.rootFd, pid, error);
    if (error != 0) continue;
    entry->th32ProcessID = pid;
    std::memcpy(entry->szExeFile, snapshot.current.record.name, sizeof entry->szExeFile);
    return 1;
  }
  snapshot.current.record = Record{};
  SetLastError(kErrorNoMoreFiles);
  return 0;
}

int First(Handle snapshot, ProcessEntry* entry) { return FillEntry(snapshot, entry, true); }
int Next(Handle snapshot, ProcessEntry* entry) { return FillEntry(snapshot, entry, false); }

}  // namespace

const LastEntry* FindLastEntry(std::uint32_t pid) {
  const LastEntry& current = g_snapshot.current;
  return g_snapshot.open && pid != 0 && current.record.pid == pid ? &current : nullptr;
}

void CountUnreadAfterWalk(int error) {
  Snapshot& snapshot = g_snapshot;
  if (snapshot.unread++ == 0) snapshot.firstUnread = error;
}

bool CloseSnapshot(Handle handle) {
  if (handle == kNullHandle || handle != g_snapshot.handle || !g_snapshot.open) return false;
  ReleaseRoot(g_snapshot.current.rootFd);
  g_snapshot.current.rootFd = -1;
  g_snapshot.open = false;
  return true;
}

}  // namespace linux_backend

// What the last walk could not read: records of other users' processes
// refused where /proc refuses them by design (hidepid=noaccess) are not
// counted.
const char* DescribeUnreadProcesses() {
  static char text[160];
  const linux_backend::Snapshot& snapshot = linux_backend::g_snapshot;
  const char* why = nullptr;
  const bool hidden = snapshot.refused != 0 && linux_backend::LookForHiding(&why) == linux_backend::Hiding::Refuses;
  const std::size_t count = snapshot.unread + (hidden ? 0 : snapshot.refused);
  if (count == 0) return nullptr;
  const int error = snapshot.unread != 0 ? snapshot.firstUnread : snapshot.firstRefusal;
  std::snprintf(text, sizeof text, "%zu %s could not be read: %s", count, count == 1 ? "process" : "processes",
                std::strerror(error));
  return text;
}

ProcessApi BindProcessApi() {
  ProcessApi api;
  api.CreateToolhelp32Snapshot = linux_backend::CreateSnapshot;
  api.Process32First = linux_backend::First;
  api.Process32Next = linux_backend::Next;
  return api;
}

std::uint32_t ProcessEntrySize() { return sizeof(ProcessEntry); }

}  // namespace stopex
