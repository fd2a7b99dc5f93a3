#include "platform/linux/proc_files.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "platform/linux/proc_parse.h"
#include "platform/linux/proc_root.h"
#include "platform/process_api.h"

namespace stopex {
namespace linux_backend {
namespace {

const char* g_procRoot = "/proc";
std::uint32_t g_lastError = 0;

}  // namespace

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

void SetLastError(std::uint32_t code) { g_lastError = code; }

int OpenRoot() { return open(g_procRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

// /proc hands over a file this small in one read, so the usual second read
// that only finds the end is spared.
std::string_view ReadSmallFile(int rootFd, const char* path, char* buffer, std::size_t size) {
  const int fd = openat(rootFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t n = read(fd, buffer, size);
  close(fd);
  return {buffer, n > 0 ? static_cast<std::size_t>(n) : 0};
}

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

}  // namespace linux_backend

void SetProcRoot(const char* root) { linux_backend::g_procRoot = root; }

std::uint32_t GetLastError() { return linux_backend::g_lastError; }

}  // namespace stopex
