// Confirm before signalling. A process the walk listed is taken in three
// steps, each giving a verdict: its number in the program's own namespace,
// the confirmation of what a process descriptor pinned, and the last check,
// read right before the signal, that it still bears the start time and the
// name it was listed with.
#include "platform/linux/confirm.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "platform/linux/record.h"

namespace stopex::linux_backend {
namespace {

const char* const kUntoldNamespace =
    "/proc shows another PID namespace, and this kernel does not say which of its processes is which here";
const char* const kDescriptorsRefused =
    "/proc shows another PID namespace, and process descriptors, which confirm which process is which "
    "there, are not to be had here (refused, or a kernel without them)";
const char* const kDescriptorsExhausted =
    "/proc shows another PID namespace, and no process descriptor, which confirms which process is which "
    "there, was left to open (too many open files)";

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

// A read of the process's files that failed: for want of descriptors, or
// because the process listed is no longer there (error 87).
Verdict Unread(int error) {
  return {error == EMFILE || error == ENFILE ? kErrorTooManyOpenFiles : kErrorInvalidParameter};
}

// The number to open the process by here. Where /proc is of another
// namespace, the status file names it; whether the process opened so is
// the one listed, only its descriptor can tell: whatever the file says, a
// process of a deeper or a sibling namespace may bear the same number here.
Verdict NumberHere(const Listed& listed, std::uint32_t* ownPid, bool* certain) {
  const std::uint32_t pid = listed.record.pid;
  *ownPid = pid;
  *certain = listed.view.levels == 1 && listed.view.told;
  if (*certain) return {};
  if (!listed.view.told) return {kErrorAccessDenied, kUntoldNamespace};
  char folder[16];
  std::snprintf(folder, sizeof folder, "%u", pid);
  StatusFields fields;
  errno = 0;
  if (!ReadStatus(listed.rootFd, folder, &fields)) return Unread(errno);
  // The process has no number here (it lives outside), or the record is
  // another process's.
  if (fields.pid != pid || fields.nsPidCount < listed.view.levels || fields.nsPids[0] != pid) {
    return {kErrorInvalidParameter};
  }
  *ownPid = fields.nsPids[listed.view.levels - 1];
  return {};
}

// The fdinfo of a process descriptor gives the process's number in the
// namespace of the /proc it is read through: it must be the number listed.
Verdict ConfirmPinned(int pidfd, const Listed& listed) {
  static FileBuffer buffer;
  char path[32];
  std::snprintf(path, sizeof path, "self/fdinfo/%d", pidfd);
  std::string_view text;
  errno = 0;
  if (!ReadWhole(listed.rootFd, path, kShortFileMost, &buffer, &text)) {
    return errno == EMFILE || errno == ENFILE ? Unread(errno) : Verdict{kErrorAccessDenied, kUntoldNamespace};
  }
  StatusFields fields;
  ParseStatus(text, &fields);
  if (fields.pid != 0) return {fields.pid == listed.record.pid ? 0 : kErrorInvalidParameter};
  // "Pid:\t-1": the process has ended, or has no number there.
  if (text.find("Pid:") != std::string_view::npos) return {kErrorInvalidParameter};
  return {kErrorAccessDenied, kUntoldNamespace};
}

// The last read before the signal: the stat line, one short read, after
// the first argument and the executable where the name was completed from
// them. A process that has gone, ended, or taken another name (an exec, a
// first argument rewritten) since it was listed is not the process asked for.
Verdict LastCheck(const Pinned& pinned, int rootFd) {
  const Record& listed = pinned.listed;
  if (listed.completed) {
    char name[kExeFileSize];
    ReadCompletedName(rootFd, listed.folder, listed.kernelName, name);
    if (std::strcmp(name, listed.name) != 0) return {kErrorInvalidParameter};
  }
  static FileBuffer buffer;
  char path[32];
  std::snprintf(path, sizeof path, "%u/stat", listed.pid);
  std::string_view line;
  StatFields fields;
  errno = 0;
  if (!ReadWhole(rootFd, path, kShortFileMost, &buffer, &line, Until::LineEnd)) return Unread(errno);
  if (!ParseStatLine(line, &fields) || fields.pid != listed.pid || HasEnded(fields) ||
      fields.startTime != listed.startTime || fields.name != std::string_view(listed.kernelName)) {
    return {kErrorInvalidParameter};
  }
  // The kernel never lets SIGKILL reach a kernel thread, nor the first
  // process of the program's own namespace (a container's main process, or
  // the machine's init), and drops a signal to a process already ending.
  Verdict verdict;
  verdict.unending = IsEnding(fields) || IsKernelThread(fields) || pinned.ownPid == 1;
  return verdict;
}

// A call that a system-call filter refused, rather than the process: the
// kernel has the call, but this program may not make it. A filter answers
// ENOSYS, or EPERM, which a signal gives only where kill() by number is
// refused as well.
bool RefusedByFilter(int error, std::uint32_t ownPid) {
  return error == ENOSYS || (error == EPERM && kill(static_cast<pid_t>(ownPid), 0) == 0);
}

}  // namespace

Verdict Pin(const Listed& listed, bool roomForDescriptor, Pinned* pinned) {
  *pinned = Pinned{};
  pinned->listed = listed.record;
  bool certain = false;
  Verdict verdict = NumberHere(listed, &pinned->ownPid, &certain);
  if (verdict.error != 0) return verdict;

  // Without room for one more descriptor the process is held by number.
  const char* noDescriptor = kDescriptorsExhausted;
  const int fd = roomForDescriptor ? PidfdOpen(pinned->ownPid) : -1;
  if (fd < 0 && roomForDescriptor) {
    const int error = errno;
    if (error == ENOSYS || error == EPERM) {
      noDescriptor = kDescriptorsRefused;  // pidfd_open itself never gives EPERM
    } else if (error != EMFILE && error != ENFILE) {
      return {ErrorFromErrno(error)};
    }
  }
  if (fd >= 0) {
    // The descriptor pins one process: that it bears the number /proc
    // lists, that it still bears what the walk saw, and that a signal
    // reaches it through the descriptor (it still holds its number, so
    // what was read was its own) prove it is the process listed.
    pinned->fd = fd;
    verdict = certain ? Verdict{} : ConfirmPinned(fd, listed);
    if (verdict.error == 0) verdict = LastCheck(*pinned, listed.rootFd);
    const int error = verdict.error == 0 && PidfdSendSignal(fd, 0) != 0 ? errno : 0;
    if (verdict.error == 0 && error == 0) return verdict;
    close(fd);
    pinned->fd = -1;
    if (verdict.error != 0) return verdict;
    if (!RefusedByFilter(error, pinned->ownPid)) return {ErrorFromErrno(error)};
    noDescriptor = kDescriptorsRefused;
  }
  // No process descriptor to be had: the same checks by number, where the
  // number here is known to be the process's own. A number freed and handed
  // to another process between the last check and the signal cannot be told.
  if (!certain) return {kErrorAccessDenied, noDescriptor};
  verdict = LastCheck(*pinned, listed.rootFd);
  if (verdict.error == 0 && kill(static_cast<pid_t>(pinned->ownPid), 0) != 0) verdict = {ErrorFromErrno(errno)};
  return verdict;
}

// Like Windows, a process that has ended, or begun to, is not terminated
// again: the kernel would drop the signal, and a report would claim a
// termination that did not happen. A process descriptor becomes readable
// once its process has ended.
Verdict Terminate(const Pinned& pinned, bool unending) {
  pollfd descriptor{pinned.fd, POLLIN, 0};
  if (unending || (pinned.fd >= 0 && poll(&descriptor, 1, 0) > 0)) return {kErrorAccessDenied};
  const int sent = pinned.fd >= 0 ? PidfdSendSignal(pinned.fd, SIGKILL)
                                  : kill(static_cast<pid_t>(pinned.ownPid), SIGKILL);
  return sent == 0 ? Verdict{} : Verdict{ErrorFromErrno(errno)};
}

bool StillRuns(const Pinned& pinned) {
  static FileBuffer buffer;
  char path[32];
  std::snprintf(path, sizeof path, "%u/stat", pinned.listed.pid);
  std::string_view line;
  StatFields fields;
  return ReadProcFile(path, kShortFileMost, &buffer, &line) && ParseStatLine(line, &fields) &&
         fields.pid == pinned.listed.pid && fields.startTime == pinned.listed.startTime && !HasEnded(fields);
}

}  // namespace stopex::linux_backend
