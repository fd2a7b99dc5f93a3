#include "platform/linux/proc_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "platform/linux/proc_parse.h"
#include "platform/linux/proc_root.h"
#include "platform/memory.h"
#include "platform/process_api.h"

namespace stopex {
namespace linux_backend {
namespace {

constexpr const char* kProcRoot = "/proc";
const char* g_procRoot = kProcRoot;
std::uint32_t g_lastError = 0;
const char* g_lastErrorText = nullptr;
// Status files are read one at a time; the buffer serves them all.
FileBuffer g_statusBuffer;

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

const char* WhyNotProcRoot(int rootFd) {
  if (g_procRoot != kProcRoot) return nullptr;
  constexpr long kProcSuperMagic = 0x9fa0;
  constexpr ino_t kProcRootInode = 1;
  struct statfs fileSystem {};
  struct stat info {};
  if (fstatfs(rootFd, &fileSystem) != 0 || fileSystem.f_type != kProcSuperMagic) {
    return "/proc is not a proc file system";
  }
  if (fstat(rootFd, &info) != 0 || info.st_ino != kProcRootInode) {
    return "/proc is a folder of a proc file system, not its root";
  }
  return nullptr;
}

std::size_t ArgumentMost() {
  const long page = sysconf(_SC_PAGESIZE);
  return 32 * static_cast<std::size_t>(page > 0 ? page : 4096);
}

namespace {

// Room for more in the buffer, up to one byte past most (a text that long
// is cut); false where it holds that much already.
bool Grow(FileBuffer* buffer, std::size_t most) {
  if (buffer->capacity > most) return false;
  std::size_t grown = Grown(buffer->capacity, 4096);
  if (grown > most + 1) grown = most + 1;
  buffer->data = static_cast<char*>(Resize(buffer->data, grown, 1));
  buffer->capacity = grown;
  return true;
}

}  // namespace

int OpenBelow(int dirFd, const char* path, int flags) {
  flags |= O_CLOEXEC;
#ifdef SYS_openat2
  // Where the kernel or a filter refuses openat2 (before 5.6, or a user-mode
  // emulator without it), a mount can cover a folder unseen.
  static bool refused = false;
  if (dirFd != AT_FDCWD && !refused) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    how.resolve = RESOLVE_NO_XDEV;
    const int fd = static_cast<int>(syscall(SYS_openat2, dirFd, path, &how, sizeof how));
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
    refused = true;
  }
#endif
  return openat(dirFd, path, flags);
}

bool ReadWhole(int dirFd, const char* path, std::size_t most, FileBuffer* buffer, std::string_view* text,
               Until until) {
  *text = {};
  const int fd = OpenBelow(dirFd, path, O_RDONLY);
  if (fd < 0) return false;
  std::size_t size = 0;
  bool whole = false;
  for (;;) {
    if (size == buffer->capacity && !Grow(buffer, most)) break;
    const std::size_t asked = buffer->capacity - size;
    const ssize_t n = read(fd, buffer->data + size, asked);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      whole = n == 0;
      break;
    }
    const void* nul = until == Until::FirstNul ? std::memchr(buffer->data + size, '\0', static_cast<std::size_t>(n)) : nullptr;
    size += static_cast<std::size_t>(n);
    if (nul != nullptr) {
      size = static_cast<std::size_t>(static_cast<const char*>(nul) - buffer->data) + 1;
      whole = true;
      break;
    }
    if (until == Until::LineEnd && static_cast<std::size_t>(n) < asked && buffer->data[size - 1] == '\n') {
      whole = true;
      break;
    }
  }
  close(fd);
  if (!whole || size > most) return false;
  *text = {buffer->data, size};
  return true;
}

namespace {

// The path of a file below /proc; false where it does not fit.
bool ProcPath(const char* relative, char (&path)[256]) {
  return std::snprintf(path, sizeof path, "%s/%s", g_procRoot, relative) < static_cast<int>(sizeof path);
}

}  // namespace

bool ReadProcFile(const char* relative, std::size_t most, FileBuffer* buffer, std::string_view* text) {
  char path[256];
  *text = {};
  return ProcPath(relative, path) && ReadWhole(AT_FDCWD, path, most, buffer, text);
}

bool ReadProcLines(const char* relative, std::size_t lineMost, FileBuffer* buffer,
                   void (*take)(std::string_view line, void* context), void* context) {
  char path[256];
  const int fd = ProcPath(relative, path) ? open(path, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) return false;
  std::size_t size = 0;   // bytes of a line not yet ended
  bool overlong = false;  // the line being read is longer than lineMost: passed over
  bool whole = false;
  for (;;) {
    if (size == buffer->capacity && !Grow(buffer, lineMost)) {
      overlong = true;
      size = 0;
    }
    const ssize_t n = read(fd, buffer->data + size, buffer->capacity - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      whole = n == 0;
      if (whole && size > 0 && !overlong) take({buffer->data, size}, context);
      break;
    }
    std::size_t scanned = size;
    size += static_cast<std::size_t>(n);
    std::size_t start = 0;
    while (const void* end = std::memchr(buffer->data + scanned, '\n', size - scanned)) {
      const auto at = static_cast<std::size_t>(static_cast<const char*>(end) - buffer->data);
      if (!overlong) take({buffer->data + start, at - start}, context);
      overlong = false;
      start = scanned = at + 1;
    }
    std::memmove(buffer->data, buffer->data + start, size - start);
    size -= start;
  }
  close(fd);
  return whole;
}

bool ReadStatus(int rootFd, const char* path, StatusFields* fields) {
  char file[32];
  std::snprintf(file, sizeof file, "%s/status", path);
  std::string_view text;
  const bool read = ReadWhole(rootFd, file, kStatusFileMost, &g_statusBuffer, &text);
  ParseStatus(text, fields);
  return read;
}

}  // namespace linux_backend

void SetProcRoot(const char* root) { linux_backend::g_procRoot = root; }

std::uint32_t GetLastError() { return linux_backend::g_lastError; }

const char* DescribeLastError() { return linux_backend::g_lastErrorText; }

}  // namespace stopex
