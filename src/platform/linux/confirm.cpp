// Confirm before signalling. A process the walk listed is taken in three
// steps, each giving a verdict: its number in the program's own namespace,
// the confirmation of what a process descriptor pinned, and the identity
// check (CheckIdentity), read right before the signal, that it still bears
// the start time and the name it was listed with. The wait makes the same
// check of a process it cannot poll.
#include "platform/linux/confirm.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <poll.h>
#include <sys/stat.h>
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

// A call on a process that failed for a reason of the system's (a filter
// may refuse any call with any error): never error 87, which says the
// process has gone.
Verdict Failed(int error) {
  const std::uint32_t code = ErrorFromErrno(error);
  return {code == kErrorInvalidParameter ? kErrorGenFailure : code};
}

// A read of the process's files that failed: because the process listed is
// no longer there (error 87), or for want of descriptors or another reason.
Verdict Unread(int error) { return SaysGone(error) ? Verdict{kErrorInvalidParameter} : Failed(error); }

// A signal that was not sent: only ESRCH says the process has gone.
Verdict Unsignalled(int error) { return error == ESRCH ? Verdict{kErrorInvalidParameter} : Failed(error); }

// The number to open the process by here. Where /proc is of another
// namespace, the status file names it; whether the process opened so is
// the one listed, only its descriptor can tell: whatever the file says, a
// process of a deeper or a sibling namespace may bear the same number here.
Verdict NumberHere(const LastEntry& entry, std::uint32_t* ownPid, bool* certain) {
  const std::uint32_t pid = entry.record.pid;
  *ownPid = pid;
  *certain = entry.view.levels == 1 && entry.view.told;
  if (*certain) return {};
  if (!entry.view.told) return {kErrorAccessDenied, kUntoldNamespace};
  char folder[16];
  std::snprintf(folder, sizeof folder, "%u", pid);
  StatusFields fields;
  errno = 0;
  if (!ReadStatus(entry.rootFd, folder, &fields)) return Unread(errno);
  // The process has no number here (it lives outside), or the record is
  // another process's.
  if (fields.pid != pid || fields.nsPidCount < entry.view.levels || fields.nsPids[0] != pid) {
    return {kErrorInvalidParameter};
  }
  *ownPid = fields.nsPids[entry.view.levels - 1];
  return {};
}

// The fdinfo of a process descriptor gives the process's number in the
// namespace of the /proc it is read through: it must be the number listed.
Verdict ConfirmPinned(int pidfd, const LastEntry& entry) {
  static FileBuffer buffer;
  char path[32];
  std::snprintf(path, sizeof path, "self/fdinfo/%d", pidfd);
  std::string_view text;
  errno = 0;
  if (!ReadWhole(entry.rootFd, path, kShortFileMost, &buffer, &text)) {
    return errno == EMFILE || errno == ENFILE ? Unread(errno) : Verdict{kErrorAccessDenied, kUntoldNamespace};
  }
  StatusFields fields;
  ParseStatus(text, &fields);
  if (fields.pid != 0) return {fields.pid == entry.record.pid ? 0 : kErrorInvalidParameter};
  // "Pid:\t-1": the process has ended, or has no number there.
  if (text.find("Pid:") != std::string_view::npos) return {kErrorInvalidParameter};
  return {kErrorAccessDenied, kUntoldNamespace};
}

// What the identity check of a pinned process found.
enum class Seen { Same, Ended, Other, Unread };
struct Look {
  Seen seen = Seen::Other;
  int error = 0;              // Unread: why
  bool beyondSignal = false;  // Same: no signal would end it
};

Look Missed(int error) { return SaysGone(error) ? Look{} : Look{Seen::Unread, error != 0 ? error : EIO}; }

// The one identity check, before every signal and in the wait: the stat
// line, one short read, after the first argument and the executable where
// the name was completed from them, all below the /proc it was listed in.
// A process that has gone, ended, or taken another name (an exec, a first
// argument rewritten) since it was listed is not the process asked for; a
// record that bears another number is covered, not read. Once signalled, a
// process takes no other name, and one completed from its memory goes as
// its memory is let go, before it has ended: the wait leaves it out.
enum class Names { Completed, KernelOnly };
Look CheckIdentity(const Pinned& pinned, Names names = Names::Completed) {
  const Record& listed = pinned.record;
  if (listed.completed && names == Names::Completed) {
    char name[kExeFileSize];
    if (const int error = ReadCompletedName(pinned.rootFd, listed.folder, listed.kernelName, name)) {
      return Missed(error);
    }
    if (std::strcmp(name, listed.name) != 0) return {};
  }
  static FileBuffer buffer;
  char path[32];
  std::snprintf(path, sizeof path, "%u/stat", listed.pid);
  std::string_view line;
  StatFields fields;
  errno = 0;
  if (!ReadWhole(pinned.rootFd, path, kShortFileMost, &buffer, &line, Until::LineEnd)) return Missed(errno);
  if (line.empty()) return {};
  if (!ParseStatLine(line, &fields) || fields.pid != listed.pid) return {Seen::Unread, EXDEV};
  if (fields.startTime != listed.startTime || fields.name != std::string_view(listed.kernelName)) return {};
  if (HasEnded(fields)) return {Seen::Ended};
  // The kernel never lets SIGKILL reach a kernel thread, nor the first
  // process of the program's own namespace (a container's main process, or
  // the machine's init), and drops a signal to a process already ending.
  return {Seen::Same, 0, IsEnding(fields) || IsKernelThread(fields) || pinned.ownPid == 1};
}

// The identity check as the process is opened: one that has ended since it
// was listed is gone (error 87).
Verdict CheckIdentityForOpen(const Pinned& pinned) {
  const Look look = CheckIdentity(pinned);
  if (look.seen == Seen::Unread) return Unread(look.error);
  if (look.seen != Seen::Same) return {kErrorInvalidParameter};
  Verdict verdict;
  verdict.beyondSignal = look.beyondSignal;
  return verdict;
}

// A process descriptor call that failed. Where the process is not out of
// descriptors, and a signal 0 by number still finds it, the descriptor is
// what failed (a filter, a kernel without them, no memory for one), not the
// process: it is then held by number, with the same checks. Else the
// signal's own failure is the verdict (ESRCH: it has gone).
const char* DescriptorFailed(int error, std::uint32_t ownPid, Verdict* verdict) {
  if (error == EMFILE || error == ENFILE) return kDescriptorsExhausted;
  if (kill(static_cast<pid_t>(ownPid), 0) == 0) return kDescriptorsRefused;
  *verdict = Unsignalled(errno);
  return nullptr;
}

// Pins the process by a process descriptor: one that bears the number /proc
// lists, that passes the identity check, and that a signal reaches through
// the descriptor (it still holds its number, so what was read was its own)
// is the process listed. Null with the verdict where that decides it; else
// why no descriptor is to be had, and the process is to be held by number.
const char* PinByDescriptor(const LastEntry& entry, bool certain, Pinned* pinned, Verdict* verdict) {
  const int fd = PidfdOpen(pinned->ownPid);
  if (fd < 0) return DescriptorFailed(errno, pinned->ownPid, verdict);
  pinned->fd = fd;
  *verdict = certain ? Verdict{} : ConfirmPinned(fd, entry);
  if (verdict->error == 0) *verdict = CheckIdentityForOpen(*pinned);
  const int error = verdict->error == 0 && PidfdSendSignal(fd, 0) != 0 ? errno : 0;
  if (verdict->error == 0 && error == 0) return nullptr;
  close(fd);
  pinned->fd = -1;
  // The descriptor given back leaves room to read by number.
  if (verdict->error == kErrorTooManyOpenFiles) return kDescriptorsExhausted;
  if (verdict->error != 0) return nullptr;
  return DescriptorFailed(error, pinned->ownPid, verdict);
}

// No process descriptor to be had: the same checks by number, where the
// number here is known to be the process's own. A number freed and handed
// to another process between the identity check and the signal cannot be
// told.
Verdict PinByNumber(const Pinned& pinned, bool certain, const char* noDescriptor) {
  if (!certain) return {kErrorAccessDenied, noDescriptor};
  Verdict verdict = CheckIdentityForOpen(pinned);
  if (verdict.error == 0 && kill(static_cast<pid_t>(pinned.ownPid), 0) != 0) verdict = Unsignalled(errno);
  return verdict;
}

}  // namespace

Verdict Pin(const LastEntry& entry, bool roomForDescriptor, Pinned* pinned) {
  *pinned = Pinned{};
  pinned->record = entry.record;
  pinned->rootFd = entry.rootFd;
  bool certain = false;
  Verdict verdict = NumberHere(entry, &pinned->ownPid, &certain);
  if (verdict.error != 0) return verdict;
  // Without room for one more descriptor the process is held by number.
  const char* noDescriptor = kDescriptorsExhausted;
  if (roomForDescriptor) {
    noDescriptor = PinByDescriptor(entry, certain, pinned, &verdict);
    if (noDescriptor == nullptr) return verdict;
  }
  return PinByNumber(*pinned, certain, noDescriptor);
}

// Like Windows, a process that has ended, or begun to, is not terminated
// again: the kernel would drop the signal, and a report would claim a
// termination that did not happen. A process descriptor becomes readable
// once its process has ended; a process held by number (or whose
// descriptor cannot be polled) has its identity checked, as when it was
// opened.
Verdict SignalPinned(const Pinned& pinned, bool beyondSignal) {
  if (beyondSignal) return {kErrorAccessDenied};
  pollfd descriptor{pinned.fd, POLLIN, 0};
  const int ready = pinned.fd >= 0 ? poll(&descriptor, 1, 0) : -1;
  if (ready > 0) return {kErrorAccessDenied};
  if (ready < 0) {
    const Look look = CheckIdentity(pinned);
    if (look.seen == Seen::Unread) return Unread(look.error);
    if (look.seen == Seen::Other) return {kErrorInvalidParameter};
    if (look.seen == Seen::Ended || look.beyondSignal) return {kErrorAccessDenied};
  }
  const int sent = pinned.fd >= 0 ? PidfdSendSignal(pinned.fd, SIGKILL)
                                  : kill(static_cast<pid_t>(pinned.ownPid), SIGKILL);
  return sent == 0 ? Verdict{} : Unsignalled(errno);
}

bool CheckIdentityForWait(const Pinned& pinned) {
  Look look = CheckIdentity(pinned, Names::KernelOnly);
  // A read that failed once is made again at once: where the fault has
  // passed, the record itself says whether the process has ended.
  if (look.seen == Seen::Unread) look = CheckIdentity(pinned, Names::KernelOnly);
  if (look.seen != Seen::Unread) return look.seen == Seen::Same;
  // Unread twice, it has not been seen to end. Its executable, which a
  // process lets go of as it ends, and a signal 0, which finds one that has
  // gone, are asked instead, by other calls than the read that failed.
  char exe[32];
  std::snprintf(exe, sizeof exe, "%u/exe", pinned.record.pid);
  struct stat running {};
  if (fstatat(pinned.rootFd, exe, &running, 0) != 0 && errno == ENOENT) {
    // It has let go of its memory: ending, but its end is not seen, which
    // is said (a record not read).
    CountUnreadAfterWalk(look.error);
    return false;
  }
  const int sent = pinned.fd >= 0 ? PidfdSendSignal(pinned.fd, 0) : kill(static_cast<pid_t>(pinned.ownPid), 0);
  return sent == 0 || errno != ESRCH;
}

}  // namespace stopex::linux_backend
