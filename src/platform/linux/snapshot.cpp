// The walk over /proc: the process numbers it holds, then each process's
// record, read when its entry is reached and taken only where the record
// bears the number of the folder it was read from.
#include "platform/linux/snapshot.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
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
  Listed current;               // current.record.pid is 0 before the first entry
  Handle handle = kNullHandle;  // even values; zero before the first snapshot
  bool open = false;
};
Snapshot g_snapshot;

// Each file a record is made from is read whole into a buffer of its own.
FileBuffer g_statBuffer;
FileBuffer g_argumentBuffer;

// A thread of the process other than its first, which has ended: the
// argument block and the executable are the process's, read through any
// thread. False where none is left.
bool OtherThread(int rootFd, std::uint32_t pid, char (&folder)[48]) {
  std::snprintf(folder, sizeof folder, "%u/task", pid);
  const int fd = openat(rootFd, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr) {
    if (fd >= 0) close(fd);
    return false;
  }
  std::uint32_t thread = 0;
  while (const dirent* d = readdir(dir)) {
    if (ParseProcessId(d->d_name, &thread) && thread != pid) break;
    thread = 0;
  }
  closedir(dir);
  std::snprintf(folder, sizeof folder, "%u/task/%u", pid, thread);
  return thread != 0;
}

// The name the kernel cut at fifteen bytes, completed from the first
// argument or the executable's path, read below folder ("N", or a thread's
// "N/task/T"). A first argument or a path that cannot be read whole
// completes nothing.
std::string_view Complete(int rootFd, const char* folder, std::string_view kernelName, Record* record,
                          char* exe, std::size_t exeSize) {
  char path[64];
  std::snprintf(path, sizeof path, "%s/cmdline", folder);
  std::string_view argument;
  ReadWhole(rootFd, path, ArgumentMost(), &g_argumentBuffer, &argument, Until::FirstNul);

  std::snprintf(path, sizeof path, "%s/exe", folder);
  const ssize_t n = readlinkat(rootFd, path, exe, exeSize);
  std::string_view exePath;
  if (n > 0 && static_cast<std::size_t>(n) < exeSize) exePath = {exe, static_cast<std::size_t>(n)};
  // The kernel marks the path of an executable that has been deleted; a
  // file's own name may end so too.
  bool deleted = false;
  record->exe = ReadExeId(rootFd, folder, &deleted);
  constexpr std::string_view kDeleted = " (deleted)";
  if (deleted && exePath.size() > kDeleted.size() && exePath.ends_with(kDeleted)) {
    exePath.remove_suffix(kDeleted.size());
  }
  return CompleteName(kernelName, argument, exePath);
}

// Reads the record of the process /proc lists as pid; false for a process
// that is gone or has ended (it runs no more and cannot be terminated), for
// one whose files cannot be read whole, and for a folder whose record bears
// another number: one process's folder mounted over another's.
bool ReadRecord(int rootFd, std::uint32_t pid, Record* record) {
  char path[48];
  std::snprintf(path, sizeof path, "%u/stat", pid);
  std::string_view stat;
  StatFields fields;
  if (!ReadWhole(rootFd, path, kShortFileMost, &g_statBuffer, &stat, Until::LineEnd) ||
      !ParseStatLine(stat, &fields) || fields.pid != pid || HasEnded(fields)) {
    return false;
  }
  *record = Record{};
  record->pid = pid;
  record->startTime = fields.startTime;
  if (fields.name.size() < sizeof record->kernelName) {
    std::memcpy(record->kernelName, fields.name.data(), fields.name.size());
  }
  std::string_view name = fields.name;
  if (name.size() == kKernelNameMax) {
    char folder[48];
    std::snprintf(folder, sizeof folder, "%u", pid);
    if (!LeaderHasEnded(fields) || OtherThread(rootFd, pid, folder)) {
      char exe[4097];  // a path, or one byte more: cut
      name = Complete(rootFd, folder, fields.name, record, exe, sizeof exe);
      record->completed = name.size() != fields.name.size();
      if (record->completed) std::memcpy(record->folder, folder, sizeof folder);
      StoreImageName(name, record->name, sizeof record->name);
      return true;
    }
  }
  StoreImageName(name, record->name, sizeof record->name);
  return true;
}

// A process list that cannot be read is a failure, never an empty list: the
// reason is the system's own.
Handle Unreadable(int error) {
  static char reason[128];
  std::snprintf(reason, sizeof reason, "%s: %s", ProcRoot(), std::strerror(error));
  SetLastError(ErrorFromErrno(error), reason);
  return kInvalidHandleValue;
}

// Reads the numbers of the processes below the open root, in ascending
// order; false with errno where the folder cannot be read.
bool ReadNumbers(int rootFd, Snapshot* snapshot) {
  const int dirFd = dup(rootFd);
  DIR* dir = dirFd < 0 ? nullptr : fdopendir(dirFd);
  if (dir == nullptr) {
    const int error = errno;
    if (error == ENOMEM) EndForWantOfMemory();
    if (dirFd >= 0) close(dirFd);
    errno = error;
    return false;
  }
  snapshot->count = 0;
  while (const dirent* d = readdir(dir)) {
    std::uint32_t pid = 0;
    if (!ParseProcessId(d->d_name, &pid)) continue;
    if (snapshot->count == snapshot->capacity) {
      snapshot->capacity = Grown(snapshot->capacity, 1024);
      snapshot->pids = static_cast<std::uint32_t*>(Resize(snapshot->pids, snapshot->capacity, sizeof(std::uint32_t)));
    }
    snapshot->pids[snapshot->count++] = pid;
  }
  closedir(dir);
  std::sort(snapshot->pids, snapshot->pids + snapshot->count);
  return true;
}

Handle CreateSnapshot(std::uint32_t /*flags*/, std::uint32_t /*processId*/) {
  Snapshot& snapshot = g_snapshot;
  if (snapshot.open) CloseSnapshot(snapshot.handle);
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
  if (!ReadNumbers(rootFd, &snapshot)) {
    const int error = errno;
    close(rootFd);
    return Unreadable(error);
  }
  snapshot.current = Listed{};
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
  if (first) snapshot.next = 0;
  while (snapshot.next < snapshot.count) {
    const std::uint32_t pid = snapshot.pids[snapshot.next++];
    if (!ReadRecord(snapshot.current.rootFd, pid, &snapshot.current.record)) continue;
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

const Listed* FindListed(std::uint32_t pid) {
  const Listed& current = g_snapshot.current;
  return g_snapshot.open && pid != 0 && current.record.pid == pid ? &current : nullptr;
}

ExeId ReadExeId(int rootFd, const char* path, bool* deleted) {
  char exe[64];
  std::snprintf(exe, sizeof exe, "%s/exe", path);
  struct stat info {};
  if (fstatat(rootFd, exe, &info, 0) != 0) return {};
  if (deleted != nullptr) *deleted = info.st_nlink == 0;
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

bool CloseSnapshot(Handle handle) {
  if (handle == kNullHandle || handle != g_snapshot.handle || !g_snapshot.open) return false;
  close(g_snapshot.current.rootFd);
  g_snapshot.current.rootFd = -1;
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
