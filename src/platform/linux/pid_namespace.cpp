// The PID namespace view of /proc, as the kernel states it: the program's
// own link and NSpid line; and the program's own id, as /proc numbers it.
#include "platform/linux/pid_namespace.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "platform/process_api.h"

namespace stopex::linux_backend {

// The link is read once for each /proc the backend is pointed at (a test
// points it at another by another text): the program's own number does not
// change while it runs.
std::uint32_t OwnNumberInProc() {
  static const char* readFrom = nullptr;
  static std::uint32_t pid = 0;
  if (readFrom == ProcRoot() && pid != 0) return pid;
  char path[256];
  char text[16];
  std::snprintf(path, sizeof path, "%s/self", ProcRoot());
  const ssize_t n = readlink(path, text, sizeof text);
  pid = 0;
  if (n > 0 && !ParseProcessId({text, static_cast<std::size_t>(n)}, &pid)) pid = 0;
  readFrom = ProcRoot();
  return pid;
}

bool ReadView(int rootFd, ProcView* view) {
  *view = ProcView{};
  errno = 0;
  const std::uint32_t self = OwnNumberInProc();
  if (self == 0 && errno != 0 && errno != ENOENT) {
    SetReadError("self", errno);  // a failure, not a sign of another namespace
    return false;
  }
  if (self == 0) {
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
  errno = 0;
  if (!ReadStatus(rootFd, "self", &fields)) {
    SetReadError("self/status", errno != 0 ? errno : EIO);
    return false;
  }
  if (fields.nsPidCount > 0) {
    view->levels = static_cast<std::uint32_t>(fields.nsPidCount);
    view->told = fields.nsPids[fields.nsPidCount - 1] == own;
  } else {
    view->told = self == own;
  }
  return true;
}

}  // namespace stopex::linux_backend

namespace stopex {

// Returns the number /proc lists for the program: the ids the snapshot
// hands out are numbered so. It is not getpid() where /proc is of another
// PID namespace, which gives the number in the program's own. getpid() only
// where /proc does not list the program at all, and no snapshot can be
// taken anyway.
std::uint32_t GetCurrentProcessId() {
  const std::uint32_t self = linux_backend::OwnNumberInProc();
  return self != 0 ? self : static_cast<std::uint32_t>(getpid());
}

}  // namespace stopex
