// The PID namespace view of /proc and the mapping of its numbers to the
// program's own, as the kernel states them: the NSpid lines of the status
// files, the pid namespace links, and a process descriptor's fdinfo.
#include "platform/linux/pid_namespace.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "platform/process_api.h"

namespace stopex::linux_backend {
namespace {

ProcView g_view;

}  // namespace

std::uint32_t ListedSelf() {
  char path[256];
  char text[16];
  std::snprintf(path, sizeof path, "%s/self", ProcRoot());
  const ssize_t n = readlink(path, text, sizeof text);
  std::uint32_t pid = 0;
  return n > 0 && ParseProcessId({text, static_cast<std::size_t>(n)}, &pid) ? pid : 0;
}

const char* const kUntoldNamespace =
    "/proc shows another PID namespace, and this kernel does not say which of its processes is which here";
const char* const kDescriptorsRefused =
    "/proc shows another PID namespace, and process descriptors, which confirm which process is which "
    "there, are not to be had here (refused, or a kernel without them)";
const char* const kDescriptorsExhausted =
    "/proc shows another PID namespace, and no process descriptor, which confirms which process is which "
    "there, was left to open (too many open files)";

bool ReadView(int rootFd, ProcView* view) {
  *view = ProcView{};
  view->self = ListedSelf();
  if (view->self == 0) {
    // Mounted with subset=pid, /proc shows the process folders alone; a
    // full one that lacks the program's own link is of another namespace.
    SetLastError(kErrorInvalidParameter,
                 faccessat(rootFd, "uptime", F_OK, 0) == 0
                     ? "/proc does not list this process: it belongs to another PID namespace"
                     : "/proc does not list this process: it shows process folders only (subset=pid)");
    return false;
  }
  // The last number is the program's own here. Without the line (an older
  // kernel), the number alone tells whether /proc is of another namespace,
  // but not which process is which there.
  const auto own = static_cast<std::uint32_t>(getpid());
  StatusFields fields;
  if (ReadStatus(rootFd, "self", &fields) && fields.nsPidCount > 0) {
    view->levels = static_cast<std::uint32_t>(fields.nsPidCount);
    view->told = fields.nsPids[fields.nsPidCount - 1] == own;
  } else {
    view->told = view->self == own;
  }
  return true;
}

const ProcView& CurrentView() { return g_view; }
void SetCurrentView(const ProcView& view) { g_view = view; }

Mapping MapListedProcess(const ProcView& view, std::uint32_t listedPid, std::uint32_t* ownPid) {
  *ownPid = listedPid;
  if (view.levels == 1 && view.told) return Mapping::Certain;
  if (!view.told) return Mapping::Unknown;
  // The status file names the number to open the process by here; whether
  // the process opened so is the one listed, only its descriptor can tell:
  // whatever the file says, a process of a deeper or a sibling namespace
  // may bear the same number here.
  char path[16];
  std::snprintf(path, sizeof path, "%u", listedPid);
  StatusFields fields;
  errno = 0;
  if (!ReadStatus(AT_FDCWD, path, &fields) || fields.nsPidCount < view.levels) return Mapping::NoNumber;
  *ownPid = fields.nsPids[view.levels - 1];
  return Mapping::ToConfirm;
}

// The fdinfo of a process descriptor, read through /proc, gives the
// process's number in that /proc's namespace.
Mapping ConfirmDescriptor(int pidfd, std::uint32_t listedPid) {
  static FileBuffer buffer;
  char path[32];
  std::snprintf(path, sizeof path, "self/fdinfo/%d", pidfd);
  std::string_view text;
  if (!ReadProcFile(path, kShortFileMost, &buffer, &text)) return Mapping::Unknown;
  StatusFields fields;
  ParseStatus(text, &fields);
  if (fields.pid != 0) return fields.pid == listedPid ? Mapping::Certain : Mapping::NoNumber;
  // "Pid:\t-1": the process has ended, or has no number there.
  return text.find("Pid:") != std::string_view::npos ? Mapping::NoNumber : Mapping::Unknown;
}

}  // namespace stopex::linux_backend

namespace stopex {

// The program's own number as /proc lists it, where the ids the snapshot
// hands out are numbered.
std::uint32_t GetCurrentProcessId() {
  std::uint32_t self = linux_backend::CurrentView().self;
  if (self == 0) self = linux_backend::ListedSelf();
  return self != 0 ? self : static_cast<std::uint32_t>(getpid());
}

}  // namespace stopex
