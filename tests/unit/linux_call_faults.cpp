// The wrappers the backend's test executable is linked with (--wrap=NAME
// makes every reference to NAME reach __wrap_NAME, and __real_NAME the C
// library's own). The names are those an x86_64 build with 64-bit file
// offsets references, fortified or not.
#include "linux_call_faults.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

namespace stopex::faults {
namespace {

struct Fault {
  int error = 0;  // 0: none
  int from = 0;   // the first call that fails, counted since the last Clear
  int until = 0;  // the first that does not again; 0: none
};

// Calls on a path that holds part fail, whatever their number.
struct PathFault {
  Call call = Call::Count;
  const char* part = nullptr;
  int error = 0;
};

Fault g_faults[static_cast<int>(Call::Count)];
PathFault g_pathFaults[4];
int g_calls[static_cast<int>(Call::Count)];
int g_zeroAt[static_cast<int>(Call::Count)];  // the call made with descriptor 0 free; 0: none
int g_input = -1;                             // standard input, kept while descriptor 0 is lent
int g_changeFrom = 0;                         // the statx changed; 0: none
void (*g_change)(struct statx*) = nullptr;
int g_changeFstatAt = 0;  // the fstat changed; 0: none
void (*g_changeFstat)(struct stat*) = nullptr;

// Counts the call; true, with errno set, where it is to fail. Where the
// call is to be made with descriptor 0 free, it is freed first.
bool Failing(Call call, const char* path = nullptr) {
  const int kind = static_cast<int>(call);
  const int n = ++g_calls[kind];
  if (n == g_zeroAt[kind] && g_input < 0) {
    g_input = fcntl(0, F_DUPFD_CLOEXEC, 3);
    close(0);
  }
  for (const PathFault& fault : g_pathFaults) {
    if (fault.call == call && path != nullptr && std::strstr(path, fault.part) != nullptr) {
      errno = fault.error;
      return true;
    }
  }
  const Fault& fault = g_faults[kind];
  if (fault.error == 0 || n < fault.from || (fault.until != 0 && n >= fault.until)) return false;
  errno = fault.error;
  return true;
}

}  // namespace

void Fail(Call call, int error, int nth, int times) {
  const int kind = static_cast<int>(call);
  const int from = g_calls[kind] + nth;
  g_faults[kind] = Fault{error, from, times == 0 ? 0 : from + times};
}

void FailWhere(Call call, const char* part, int error) {
  for (PathFault& fault : g_pathFaults) {
    if (fault.part == nullptr) {
      fault = PathFault{call, part, error};
      return;
    }
  }
}

void ZeroAt(Call call, int nth) { g_zeroAt[static_cast<int>(call)] = g_calls[static_cast<int>(call)] + nth; }

bool ZeroFree() { return g_input >= 0 && fcntl(0, F_GETFD) == -1; }

void ChangeStatx(int nth, void (*change)(struct statx* seen)) {
  g_changeFrom = g_calls[static_cast<int>(Call::Statx)] + nth;
  g_change = change;
}

void ChangeFstat(int nth, void (*change)(struct stat* info)) {
  g_changeFstatAt = g_calls[static_cast<int>(Call::Fstat)] + nth;
  g_changeFstat = change;
}

void Clear() {
  for (auto& fault : g_faults) fault = Fault{};
  for (auto& fault : g_pathFaults) fault = PathFault{};
  for (auto& calls : g_calls) calls = 0;
  for (auto& zero : g_zeroAt) zero = 0;
  g_changeFrom = g_changeFstatAt = 0;
  g_change = nullptr;
  g_changeFstat = nullptr;
  if (g_input >= 0) {
    dup2(g_input, 0);
    close(g_input);
    g_input = -1;
  }
}

// The change the test asked for, from the call it named on.
static void FstatChanged(int result, struct stat* info) {
  if (result == 0 && g_changeFstat != nullptr && g_calls[static_cast<int>(Call::Fstat)] == g_changeFstatAt) {
    g_changeFstat(info);
  }
}

static void Changed(int result, struct statx* seen) {
  if (result == 0 && g_change != nullptr && g_calls[static_cast<int>(Call::Statx)] == g_changeFrom) g_change(seen);
}

int Calls(Call call) { return g_calls[static_cast<int>(call)]; }

const char* NameOf(Call call) {
  static const char* const kNames[] = {"open",      "openat2", "statx",    "fstat",       "fstatfs",
                                       "stat",      "read",    "readlink", "getdents64",  "opendir",
                                       "readdir",   "rlimit",  "kill",     "poll",        "pidfd_open",
                                       "pidfd_send_signal",    "getgroups", "faccessat", "nanosleep"};
  static_assert(sizeof kNames / sizeof kNames[0] == static_cast<int>(Call::Count));
  return kNames[static_cast<int>(call)];
}

}  // namespace stopex::faults

using stopex::faults::Call;
using stopex::faults::Failing;

extern "C" {

int __real_open64(const char* path, int flags, ...);
int __real_openat64(int dirFd, const char* path, int flags, ...);
int __real___openat64_2(int dirFd, const char* path, int flags);
int __real_statx(int dirFd, const char* path, int flags, unsigned mask, struct statx* seen);
int __real_fstat64(int fd, struct stat* info);
int __real_fstatat64(int dirFd, const char* path, struct stat* info, int flags);
int __real_fstatfs64(int fd, struct statfs* info);
int __real_stat64(const char* path, struct stat* info);
ssize_t __real_read(int fd, void* data, size_t size);
ssize_t __real_readlink(const char* path, char* text, size_t size);
ssize_t __real_readlinkat(int dirFd, const char* path, char* text, size_t size);
long __real_syscall(long number, ...);
DIR* __real_opendir(const char* path);
DIR* __real_fdopendir(int fd);
struct dirent* __real_readdir64(DIR* dir);
int __real_getrlimit64(int resource, struct rlimit* limit);
int __real_setrlimit64(int resource, const struct rlimit* limit);
int __real_kill(pid_t pid, int signal);
int __real_poll(struct pollfd* fds, nfds_t count, int timeout);
int __real_getgroups(int size, gid_t* groups);
int __real_faccessat(int dirFd, const char* path, int mode, int flags);
int __real_nanosleep(const struct timespec* length, struct timespec* left);

// The mode an open that may create a file is given.
#define STOPEX_MODE_ARGUMENT(last)                       \
  mode_t mode = 0;                                       \
  if ((flags & (O_CREAT | O_TMPFILE)) != 0) {            \
    va_list arguments;                                   \
    va_start(arguments, last);                           \
    mode = static_cast<mode_t>(va_arg(arguments, int));  \
    va_end(arguments);                                   \
  }

int __wrap_open64(const char* path, int flags, ...) {
  STOPEX_MODE_ARGUMENT(flags)
  return Failing(Call::Open, path) ? -1 : __real_open64(path, flags, mode);
}
int __wrap_openat64(int dirFd, const char* path, int flags, ...) {
  STOPEX_MODE_ARGUMENT(flags)
  return Failing(Call::Open, path) ? -1 : __real_openat64(dirFd, path, flags, mode);
}
int __wrap___openat64_2(int dirFd, const char* path, int flags) {
  return Failing(Call::Open, path) ? -1 : __real___openat64_2(dirFd, path, flags);
}
int __wrap_statx(int dirFd, const char* path, int flags, unsigned mask, struct statx* seen) {
  if (Failing(Call::Statx, path)) return -1;
  const int result = __real_statx(dirFd, path, flags, mask, seen);
  stopex::faults::Changed(result, seen);
  return result;
}
int __wrap_fstat64(int fd, struct stat* info) {
  if (Failing(Call::Fstat)) return -1;
  const int result = __real_fstat64(fd, info);
  stopex::faults::FstatChanged(result, info);
  return result;
}
int __wrap_fstatat64(int dirFd, const char* path, struct stat* info, int flags) {
  return Failing(Call::Fstat, path) ? -1 : __real_fstatat64(dirFd, path, info, flags);
}
int __wrap_fstatfs64(int fd, struct statfs* info) { return Failing(Call::Fstatfs) ? -1 : __real_fstatfs64(fd, info); }
int __wrap_stat64(const char* path, struct stat* info) { return Failing(Call::Stat, path) ? -1 : __real_stat64(path, info); }
ssize_t __wrap_read(int fd, void* data, size_t size) { return Failing(Call::Read) ? -1 : __real_read(fd, data, size); }
ssize_t __wrap_readlink(const char* path, char* text, size_t size) {
  return Failing(Call::Readlink, path) ? -1 : __real_readlink(path, text, size);
}
ssize_t __wrap_readlinkat(int dirFd, const char* path, char* text, size_t size) {
  return Failing(Call::Readlink, path) ? -1 : __real_readlinkat(dirFd, path, text, size);
}

// Every system call the backend makes through syscall() takes at most four
// arguments; six are passed on, as the C library's own does.
long __wrap_syscall(long number, ...) {
  va_list arguments;
  va_start(arguments, number);
  long a[6];
  for (long& argument : a) argument = va_arg(arguments, long);
  va_end(arguments);
  const Call call = number == SYS_openat2          ? Call::Openat2
                    : number == SYS_getdents64     ? Call::Getdents
                    : number == SYS_pidfd_open     ? Call::PidfdOpen
                    : number == SYS_pidfd_send_signal ? Call::PidfdSignal
                                                   : Call::Count;
  const char* path = call == Call::Openat2 ? reinterpret_cast<const char*>(a[1]) : nullptr;
  if (call != Call::Count && Failing(call, path)) return -1;
  return __real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

DIR* __wrap_opendir(const char* path) { return Failing(Call::Opendir, path) ? nullptr : __real_opendir(path); }
DIR* __wrap_fdopendir(int fd) { return Failing(Call::Opendir) ? nullptr : __real_fdopendir(fd); }
struct dirent* __wrap_readdir64(DIR* dir) { return Failing(Call::Readdir) ? nullptr : __real_readdir64(dir); }
int __wrap_getrlimit64(int resource, struct rlimit* limit) {
  return Failing(Call::Rlimit) ? -1 : __real_getrlimit64(resource, limit);
}
int __wrap_setrlimit64(int resource, const struct rlimit* limit) {
  return Failing(Call::Rlimit) ? -1 : __real_setrlimit64(resource, limit);
}
int __wrap_kill(pid_t pid, int signal) { return Failing(Call::Kill) ? -1 : __real_kill(pid, signal); }
int __wrap_poll(struct pollfd* fds, nfds_t count, int timeout) {
  return Failing(Call::Poll) ? -1 : __real_poll(fds, count, timeout);
}
int __wrap_getgroups(int size, gid_t* groups) { return Failing(Call::Getgroups) ? -1 : __real_getgroups(size, groups); }
int __wrap_faccessat(int dirFd, const char* path, int mode, int flags) {
  return Failing(Call::Faccessat, path) ? -1 : __real_faccessat(dirFd, path, mode, flags);
}
int __wrap_nanosleep(const struct timespec* length, struct timespec* left) {
  return Failing(Call::Nanosleep) ? -1 : __real_nanosleep(length, left);
}

}  // extern "C"
