#include "platform/linux/snapshot.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/linux/pid_namespace.h"
#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "platform/memory.h"

namespace stopex {
namespace linux_backend {
namespace {

// One snapshot at a time: the ids /proc held when it was taken, and the
// record of the entry handed out last. Each process's files are read when
// its entry is reached, so that memory does not grow with the number of
// processes beyond four bytes each.
struct Snapshot {
  std::uint32_t* pids = nullptr;
  std::size_t count = 0;
  std::size_t capacity = 0;
  std::size_t next = 0;
  int rootFd = -1;              // /proc, open while the snapshot is
  Record current{};             // valid when current.pid is not 0
  Handle handle = kNullHandle;  // even values; zero before the first snapshot
  bool open = false;
};
Snapshot g_snapshot;

// Each file a record is made from is read whole into a buffer of its own.
FileBuffer g_statBuffer;
FileBuffer g_argumentBuffer;

// The name completed from argv[0] or the executable's path; only needed when
// the kernel may have cut it. A first argument or a path that cannot be read
// whole completes nothing.
std::string_view CompleteFromFiles(int rootFd, std::uint32_t pid, std::string_view kernelName, char* exe,
                                   std::size_t exeSize) {
  char path[32];
  std::snprintf(path, sizeof path, "%u/cmdline", pid);
  std::string_view argument;
  ReadWhole(rootFd, path, ArgumentMost(), &g_argumentBuffer, &argument, true);

  std::snprintf(path, sizeof path, "%u/exe", pid);
  const ssize_t n = readlinkat(rootFd, path, exe, exeSize);
  std::string_view exePath;
  if (n > 0 && static_cast<std::size_t>(n) < exeSize) exePath = {exe, static_cast<std::size_t>(n)};
  constexpr std::string_view kDeleted = " (deleted)";
  if (exePath.size() > kDeleted.size() && exePath.substr(exePath.size() - kDeleted.size()) == kDeleted) {
    exePath.remove_suffix(kDeleted.size());
  }
  return CompleteName(kernelName, argument, exePath);
}

}  // namespace

bool ReadRecord(int rootFd, std::uint32_t pid, Record* record) {
  char path[32];
  std::snprintf(path, sizeof path, "%u/stat", pid);
  std::string_view stat;
  StatFields fields;
  // A process that has gone since the directory was read is simply left out,
  // and so is one that has ended and only waits to be collected: it runs no
  // more and cannot be terminated.
  if (!ReadWhole(rootFd, path, kShortFileMost, &g_statBuffer, &stat) || !ParseStatLine(stat, &fields)) {
    return false;
  }
  if (HasEnded(fields)) return false;
  record->pid = pid;
  record->startTime = fields.startTime;
  if (fields.name.size() == kKernelNameMax) {
    char exe[4097];  // a path, or one byte more: cut
    StoreImageName(CompleteFromFiles(rootFd, pid, fields.name, exe, sizeof exe), record->name, sizeof record->name);
  } else {
    StoreImageName(fields.name, record->name, sizeof record->name);
  }
  return true;
}

namespace {

// A process list that cannot be read is a failure, never an empty list: the
// reason is the system's own.
Handle Unreadable(int error) {
  static char reason[128];
  std::snprintf(reason, sizeof reason, "%s: %s", ProcRoot(), std::strerror(error));
  SetLastError(ErrorFromErrno(error), reason);
  return kInvalidHandleValue;
}

Handle CreateSnapshot(std::uint32_t /*flags*/, std::uint32_t /*processId*/) {
  if (g_snapshot.open) CloseSnapshot(g_snapshot.handle);
  const int rootFd = OpenRoot();
  if (rootFd < 0) return Unreadable(errno);
  ProcView view;
  if (const char* why = WhyNotProcRoot(rootFd)) {
    SetLastError(kErrorInvalidParameter, why);
    close(rootFd);
    return kInvalidHandleValue;
  }
  if (!ReadView(rootFd, &view)) {
    close(rootFd);
    return kInvalidHandleValue;
  }
  SetCurrentView(view);
  const int dirFd = dup(rootFd);
  DIR* dir = dirFd < 0 ? nullptr : fdopendir(dirFd);
  if (dir == nullptr) {
    const int error = errno;
    if (error == ENOMEM) EndForWantOfMemory();
    if (dirFd >= 0) close(dirFd);
    close(rootFd);
    return Unreadable(error);
  }
  Snapshot& snapshot = g_snapshot;
  snapshot.count = 0;
  while (const dirent* d = readdir(dir)) {
    std::uint32_t pid = 0;
    if (!ParseProcessId(d->d_name, &pid)) continue;
    if (snapshot.count == snapshot.capacity) {
      snapshot.capacity = snapshot.capacity == 0 ? 1024 : snapshot.capacity * 2;
      snapshot.pids = static_cast<std::uint32_t*>(Resize(snapshot.pids, snapshot.capacity, sizeof(std::uint32_t)));
    }
    snapshot.pids[snapshot.count++] = pid;
  }
  closedir(dir);
  std::sort(snapshot.pids, snapshot.pids + snapshot.count);
  snapshot.rootFd = rootFd;
  snapshot.current = Record{};
  snapshot.handle += 2;
  snapshot.open = true;
  snapshot.next = 0;
  return snapshot.handle;
}

// A process that has gone since the directory was read is passed over, and
// so is one that has ended and only waits to be collected.
int FillEntry(Handle snapshot, ProcessEntry* entry, bool first) {
  if (snapshot != g_snapshot.handle || !g_snapshot.open) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  if (entry == nullptr || entry->dwSize != sizeof(ProcessEntry)) {
    SetLastError(kErrorBadLength);
    return 0;
  }
  if (first) g_snapshot.next = 0;
  while (g_snapshot.next < g_snapshot.count) {
    const std::uint32_t pid = g_snapshot.pids[g_snapshot.next++];
    if (!ReadRecord(g_snapshot.rootFd, pid, &g_snapshot.current)) continue;
    entry->th32ProcessID = pid;
    std::memcpy(entry->szExeFile, g_snapshot.current.name, sizeof entry->szExeFile);
    return 1;
  }
  SetLastError(kErrorNoMoreFiles);
  return 0;
}

int First(Handle snapshot, ProcessEntry* entry) { return FillEntry(snapshot, entry, true); }
int Next(Handle snapshot, ProcessEntry* entry) { return FillEntry(snapshot, entry, false); }

}  // namespace

const Record* FindRecord(std::uint32_t pid) {
  return pid != 0 && g_snapshot.current.pid == pid ? &g_snapshot.current : nullptr;
}

bool ReadRecordNow(std::uint32_t pid, Record* record) {
  if (g_snapshot.open) return ReadRecord(g_snapshot.rootFd, pid, record);
  const int rootFd = OpenRoot();
  if (rootFd < 0) return false;
  const bool read = ReadRecord(rootFd, pid, record);
  close(rootFd);
  return read;
}

bool CloseSnapshot(Handle handle) {
  if (handle == kNullHandle || handle != g_snapshot.handle || !g_snapshot.open) return false;
  close(g_snapshot.rootFd);
  g_snapshot.rootFd = -1;
  g_snapshot.open = false;
  return true;
}

}  // namespace linux_backend

ProcessApi BindProcessApi() {
  ProcessApi api;
  api.CreateToolhelp32Snapshot = linux_backend::CreateSnapshot;
  api.Process32First = linux_backend::First;
  api.Process32Next = linux_backend::Next;
  return api;
}

std::uint32_t ProcessEntrySize() { return sizeof(ProcessEntry); }

}  // namespace stopex
