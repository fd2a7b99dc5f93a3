#include "platform/linux/pidfd.h"

#include <cerrno>

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace stopex::linux_backend {

int PidfdOpen(int pid) {
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

}  // namespace stopex::linux_backend
