// The Linux backend: snapshots read from /proc, termination by SIGKILL through
// a process file descriptor, and every failure given a Windows error code so
// that the reports read the same on both systems.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "process/ascii_text.h"
#include "process/proc_parse.h"
#include "process/process_api.h"
#include "process/process_linux.h"

namespace stopex {
namespace {

// Windows error codes the backend reports.
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
constexpr std::uint32_t kErrorBadLength = 24;
constexpr std::uint32_t kErrorNoMoreFiles = 18;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorInvalidParameter = 87;  // also: no such process
constexpr std::uint32_t kErrorInvalidHandle = 6;

const char* g_procRoot = "/proc";
std::uint32_t g_lastError = 0;

std::uint32_t ErrorFromErrno(int error) {
  switch (error) {
    case EPERM:
    case EACCES: return kErrorAccessDenied;
    case ESRCH:
    case ENOENT:
    case EINVAL: return kErrorInvalidParameter;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EBADF: return kErrorInvalidHandle;
    default: return kErrorGenFailure;
  }
}

// ---- reading /proc ----------------------------------------------------------

// Reads the start of a small file below the root, up to the buffer's size;
// empty when it cannot be read. /proc hands over a file this small in one
// read, so the usual second read that only finds the end is spared.
std::string_view ReadSmallFile(int rootFd, const char* path, char* buffer, std::size_t size) {
  const int fd = openat(rootFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t n = read(fd, buffer, size);
  close(fd);
  return {buffer, n > 0 ? static_cast<std::size_t>(n) : 0};
}

// A stat line is far shorter than this, whatever the name holds.
constexpr std::size_t kStatBufferSize = 1024;

int OpenRoot() { return open(g_procRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

enum class Liveness { Running, Ending, Gone };

// Whether the process behind pid is still the one that started at startTime,
// and whether it still runs. An id that now belongs to another process, or a
// process that has ended, counts as gone.
Liveness CheckProcess(std::uint32_t pid, std::uint64_t startTime) {
  const int rootFd = OpenRoot();
  if (rootFd < 0) return Liveness::Gone;
  char path[32];
  std::snprintf(path, sizeof path, "%u/stat", pid);
  char buffer[kStatBufferSize];
  StatFields fields;
  const bool read = ParseStatLine(ReadSmallFile(rootFd, path, buffer, sizeof buffer), &fields);
  close(rootFd);
  if (!read || fields.startTime != startTime || HasEnded(fields)) return Liveness::Gone;
  return IsEnding(fields) ? Liveness::Ending : Liveness::Running;
}

// ---- snapshots ---------------------------------------------------------------

struct Record {
  std::uint32_t pid;
  std::uint64_t startTime;
  char name[kExeFileSize];
};

// One snapshot at a time. Its records stay after it is closed, so that a
// process can still be checked against the start time the snapshot saw.
struct Snapshot {
  std::vector<Record> records;
  Handle handle = kNullHandle;  // even values; zero before the first snapshot
  bool open = false;
  std::size_t next = 0;
};
Snapshot g_snapshot;

bool ParsePid(const char* text, std::uint32_t* pid) {
  std::uint64_t value = 0;
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(*text - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  *pid = static_cast<std::uint32_t>(value);
  return value != 0;
}

// The name completed from argv[0] or the executable's path; only needed when
// the kernel may have cut it.
std::string_view CompleteFromFiles(int rootFd, std::uint32_t pid, std::string_view kernelName,
                                   char* cmdline, std::size_t cmdlineSize, char* exe,
                                   std::size_t exeSize) {
  char path[32];
  std::snprintf(path, sizeof path, "%u/cmdline", pid);
  std::string_view completed =
      CompleteName(kernelName, ReadSmallFile(rootFd, path, cmdline, cmdlineSize), {});
  if (completed.size() != kernelName.size()) return completed;

  std::snprintf(path, sizeof path, "%u/exe", pid);
  const ssize_t n = readlinkat(rootFd, path, exe, exeSize);
  if (n <= 0) return kernelName;
  std::string_view exePath(exe, static_cast<std::size_t>(n));
  constexpr std::string_view kDeleted = " (deleted)";
  if (exePath.size() > kDeleted.size() && exePath.substr(exePath.size() - kDeleted.size()) == kDeleted) {
    exePath.remove_suffix(kDeleted.size());
  }
  return CompleteName(kernelName, {}, exePath);
}

bool ReadRecord(int rootFd, std::uint32_t pid, Record* record) {
  char path[32];
  std::snprintf(path, sizeof path, "%u/stat", pid);
  char stat[kStatBufferSize];
  StatFields fields;
  // A process that has gone since the directory was read is simply left out,
  // and so is one that has ended and only waits to be collected: it runs no
  // more and cannot be terminated.
  if (!ParseStatLine(ReadSmallFile(rootFd, path, stat, sizeof stat), &fields)) return false;
  if (HasEnded(fields)) return false;
  record->pid = pid;
  record->startTime = fields.startTime;
  if (fields.name.size() == kKernelNameMax) {
    char cmdline[4096];
    char exe[4096];
    StoreImageName(CompleteFromFiles(rootFd, pid, fields.name, cmdline, sizeof cmdline, exe, sizeof exe),
                   record->name, sizeof record->name);
  } else {
    StoreImageName(fields.name, record->name, sizeof record->name);
  }
  return true;
}

Handle CreateSnapshot(std::uint32_t /*flags*/, std::uint32_t /*processId*/) {
  const int rootFd = OpenRoot();
  if (rootFd < 0) {
    g_lastError = ErrorFromErrno(errno);
    return kInvalidHandleValue;
  }
  DIR* dir = fdopendir(dup(rootFd));
  if (dir == nullptr) {
    g_lastError = ErrorFromErrno(errno);
    close(rootFd);
    return kInvalidHandleValue;
  }
  std::vector<std::uint32_t> pids;
  while (const dirent* d = readdir(dir)) {
    std::uint32_t pid = 0;
    if (ParsePid(d->d_name, &pid)) pids.push_back(pid);
  }
  closedir(dir);
  std::sort(pids.begin(), pids.end());

  g_snapshot.records.clear();
  g_snapshot.records.reserve(pids.size());
  for (std::uint32_t pid : pids) {
    g_snapshot.records.emplace_back();
    if (!ReadRecord(rootFd, pid, &g_snapshot.records.back())) g_snapshot.records.pop_back();
  }
  close(rootFd);
  g_snapshot.handle += 2;
  g_snapshot.open = true;
  g_snapshot.next = 0;
  return g_snapshot.handle;
}

int FillEntry(Handle snapshot, ProcessEntry* entry, bool first) {
  if (snapshot != g_snapshot.handle || !g_snapshot.open) {
    g_lastError = kErrorInvalidHandle;
    return 0;
  }
  if (entry == nullptr || entry->dwSize != sizeof(ProcessEntry)) {
    g_lastError = kErrorBadLength;
    return 0;
  }
  if (first) g_snapshot.next = 0;
  if (g_snapshot.next >= g_snapshot.records.size()) {
    g_lastError = kErrorNoMoreFiles;
    return 0;
  }
  const Record& record = g_snapshot.records[g_snapshot.next++];
  entry->th32ProcessID = record.pid;
  std::memcpy(entry->szExeFile, record.name, sizeof entry->szExeFile);
  return 1;
}

int First(Handle snapshot, ProcessEntry* entry) { return FillEntry(snapshot, entry, true); }
int Next(Handle snapshot, ProcessEntry* entry) { return FillEntry(snapshot, entry, false); }

const Record* FindRecord(std::uint32_t pid) {
  const auto& records = g_snapshot.records;
  auto it = std::lower_bound(records.begin(), records.end(), pid,
                             [](const Record& r, std::uint32_t p) { return r.pid < p; });
  return it != records.end() && it->pid == pid ? &*it : nullptr;
}

// ---- process handles ---------------------------------------------------------

enum class SlotKind { Free, ProcessFd, ProcessId, Self };

struct ProcessSlot {
  SlotKind kind = SlotKind::Free;
  int fd = -1;
  std::uint32_t pid = 0;
  std::uint64_t startTime = 0;
};
std::vector<ProcessSlot> g_slots;

// Process handles are odd values, snapshot handles even.
Handle HandleForSlot(std::size_t index) { return static_cast<Handle>(index) * 2 + 1; }

ProcessSlot* SlotForHandle(Handle handle) {
  if (handle % 2 == 0 || handle == kInvalidHandleValue) return nullptr;
  const std::size_t index = static_cast<std::size_t>(handle / 2);
  if (index >= g_slots.size() || g_slots[index].kind == SlotKind::Free) return nullptr;
  return &g_slots[index];
}

Handle NewSlot(const ProcessSlot& slot) {
  for (std::size_t i = 0; i < g_slots.size(); ++i) {
    if (g_slots[i].kind == SlotKind::Free) {
      g_slots[i] = slot;
      return HandleForSlot(i);
    }
  }
  g_slots.push_back(slot);
  return HandleForSlot(g_slots.size() - 1);
}

int PidfdOpen(std::uint32_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
#else
  errno = ENOSYS;
  return -1;
#endif
}

int PidfdSendSignal(int fd, int signal) {
#ifdef SYS_pidfd_send_signal
  return static_cast<int>(syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0));
#else
  errno = ENOSYS;
  return -1;
#endif
}

Handle Fail(std::uint32_t code) {
  g_lastError = code;
  return kNullHandle;
}

}  // namespace

void SetProcRoot(const char* root) { g_procRoot = root; }

const char* GetCommandLineA() { return nullptr; }

bool IsDBCSLeadByte(unsigned char) { return false; }

bool StandardOutputIsCharacterDevice() {
  struct stat info {};
  return fstat(STDOUT_FILENO, &info) == 0 && S_ISCHR(info.st_mode);
}

ProcessApi BindProcessApi() {
  ProcessApi api;
  api.CreateToolhelp32Snapshot = CreateSnapshot;
  api.Process32First = First;
  api.Process32Next = Next;
  return api;
}

std::uint32_t ProcessEntrySize() { return sizeof(ProcessEntry); }

std::uint32_t GetCurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

Handle OpenProcess(std::uint32_t desiredAccess, int /*inheritHandle*/, std::uint32_t processId) {
  if (desiredAccess != kProcessTerminate) return Fail(kErrorAccessDenied);
  if (processId == GetCurrentProcessId()) {
    ProcessSlot self;
    self.kind = SlotKind::Self;
    self.pid = processId;
    return NewSlot(self);
  }
  // Only a process the snapshot saw can be opened, and only while its id
  // still belongs to it: an id that was freed and handed to another process
  // counts as a process that no longer exists.
  const Record* record = FindRecord(processId);
  if (record == nullptr) return Fail(kErrorInvalidParameter);

  ProcessSlot slot;
  slot.pid = processId;
  slot.startTime = record->startTime;
  slot.fd = PidfdOpen(processId);
  if (slot.fd >= 0) {
    // The descriptor pins the process; checking the start time after taking
    // it proves the descriptor is for the process the snapshot saw.
    slot.kind = SlotKind::ProcessFd;
    if (CheckProcess(processId, record->startTime) == Liveness::Gone) {
      close(slot.fd);
      return Fail(kErrorInvalidParameter);
    }
    if (PidfdSendSignal(slot.fd, 0) != 0) {
      const int error = errno;
      close(slot.fd);
      return Fail(ErrorFromErrno(error));
    }
    return NewSlot(slot);
  }
  if (errno != ENOSYS) return Fail(ErrorFromErrno(errno));

  // No process descriptors on this kernel: the same checks by id.
  slot.kind = SlotKind::ProcessId;
  if (CheckProcess(processId, record->startTime) == Liveness::Gone) return Fail(kErrorInvalidParameter);
  if (kill(static_cast<pid_t>(processId), 0) != 0) return Fail(ErrorFromErrno(errno));
  return NewSlot(slot);
}

int TerminateProcess(Handle process, std::uint32_t exitCode) {
  ProcessSlot* slot = SlotForHandle(process);
  if (slot == nullptr) {
    g_lastError = kErrorInvalidHandle;
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
    g_lastError = kErrorAccessDenied;
    return 0;
  }
  if (slot->kind == SlotKind::ProcessFd) {
    if (PidfdSendSignal(slot->fd, SIGKILL) == 0) return 1;
  } else if (kill(static_cast<pid_t>(slot->pid), SIGKILL) == 0) {
    return 1;
  }
  g_lastError = ErrorFromErrno(errno);
  return 0;
}

int CloseHandle(Handle handle) {
  if (handle != kNullHandle && handle == g_snapshot.handle && g_snapshot.open) {
    g_snapshot.open = false;
    return 1;
  }
  ProcessSlot* slot = SlotForHandle(handle);
  if (slot == nullptr) {
    g_lastError = kErrorInvalidHandle;
    return 0;
  }
  if (slot->fd >= 0) close(slot->fd);
  *slot = ProcessSlot{};
  return 1;
}

std::uint32_t GetLastError() { return g_lastError; }

char* CharUpperA(char* text) { return AsciiUpper(text); }

char* lstrcpyA(char* destination, const char* source) { return std::strcpy(destination, source); }

}  // namespace stopex
