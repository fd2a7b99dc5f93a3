#include "platform/linux/proc_files.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "platform/linux/proc_parse.h"
#include "platform/linux/proc_root.h"
#include "platform/process_api.h"

namespace stopex {
namespace linux_backend {
namespace {

constexpr const char* kProcRoot = "/proc";
const char* g_procRoot = kProcRoot;
std::uint32_t g_lastError = 0;
const char* g_lastErrorText = nullptr;

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

void SetLastError(std::uint32_t code, const char* text) {
  g_lastError = code;
  g_lastErrorText = text;
}

int OpenRoot() { return open(g_procRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }
const char* ProcRoot() { return g_procRoot; }

bool IsProcFileSystem(int rootFd) {
  constexpr long kProcSuperMagic = 0x9fa0;
  struct statfs info {};
  return g_procRoot != kProcRoot || (fstatfs(rootFd, &info) == 0 && info.f_type == kProcSuperMagic);
}

bool ReadStatus(int rootFd, const char* path, StatusFields* fields) {
  char file[32];
  std::snprintf(file, sizeof file, "%s/status", path);
  char buffer[kStatusBufferSize];
  const std::string_view text = ReadSmallFile(rootFd, file, buffer, sizeof buffer);
  ParseStatus(text, fields);
  return !text.empty();
}

// /proc hands over a file this small in one read, so the usual second read
// that only finds the end is spared.
std::string_view ReadSmallFile(int rootFd, const char* path, char* buffer, std::size_t size) {
  const int fd = openat(rootFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t n = read(fd, buffer, size);
  close(fd);
  return {buffer, n > 0 ? static_cast<std::size_t>(n) : 0};
}

std::string_view ReadProcFile(const char* relative, char* buffer, std::size_t size) {
  char path[256];
  if (std::snprintf(path, sizeof path, "%s/%s", g_procRoot, relative) >= static_cast<int>(sizeof path)) return {};
  return ReadSmallFile(AT_FDCWD, path, buffer, size);
}

Liveness CheckProcess(std::uint32_t pid, std::uint64_t startTime) {
  char path[32];
  std::snprintf(path, sizeof path, "%u/stat", pid);
  char buffer[kStatBufferSize];
  StatFields fields;
  if (!ParseStatLine(ReadProcFile(path, buffer, sizeof buffer), &fields) || fields.startTime != startTime ||
      HasEnded(fields)) {
    return Liveness::Gone;
  }
  return IsEnding(fields) ? Liveness::Ending : Liveness::Running;
}

bool IgnoresKill(std::uint32_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "%u/status", pid);
  char buffer[kStatusBufferSize];
  StatusFields fields;
  ParseStatus(ReadProcFile(path, buffer, sizeof buffer), &fields);
  return fields.ignoresKill;
}

}  // namespace linux_backend

void SetProcRoot(const char* root) { linux_backend::g_procRoot = root; }

std::uint32_t GetLastError() { return linux_backend::g_lastError; }

const char* DescribeLastError() { return linux_backend::g_lastErrorText; }

}  // namespace stopex
