// Reading /proc for the Linux backend, and its errors: the /proc roots held
// open, each with the mount its reads keep to; the guarded open; files read
// whole or line by line; the descriptor limit; the last error.
#include "platform/linux/proc_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// Each /proc root open: how many hold it, and how OpenBelow keeps to its mount.
struct HeldRoot {
  int fd = -1;
  std::size_t users = 0;  // 0: a free place
  bool openat2 = false;   // the kernel refuses to cross a mount on our behalf
  bool hasMountId = false;
  std::uint64_t mountId = 0;
  std::uint32_t deviceMajor = 0;
  std::uint32_t deviceMinor = 0;
};
HeldRoot* g_roots = nullptr;
std::size_t g_rootCount = 0;
bool g_openat2Refused = false;  // a test's stand-in for a filter that refuses openat2

int Openat2(int dirFd, const char* path, int flags) {
#ifdef SYS_openat2
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags);
  how.resolve = RESOLVE_NO_XDEV;
  return static_cast<int>(syscall(SYS_openat2, dirFd, path, &how, sizeof how));
#else
  errno = ENOSYS;
  return -1;
#endif
}

constexpr unsigned kLookMask = STATX_TYPE | STATX_INO | STATX_MNT_ID;

// The root open as rootFd, or null.
HeldRoot* RootOf(int rootFd) {
  for (std::size_t i = 0; i < g_rootCount; ++i) {
    if (g_roots[i].users != 0 && g_roots[i].fd == rootFd) return &g_roots[i];
  }
  return nullptr;
}

void AddRoot(const HeldRoot& root) {
  std::size_t free = 0;
  while (free < g_rootCount && g_roots[free].users != 0) ++free;
  if (free == g_rootCount) {
    g_rootCount = Grown(g_rootCount, 4);
    g_roots = static_cast<HeldRoot*>(Resize(g_roots, g_rootCount, sizeof(HeldRoot)));
    for (std::size_t i = free; i < g_rootCount; ++i) g_roots[i] = HeldRoot{};
  }
  g_roots[free] = root;
}

// Whether a file or folder below the root lies on the root's mount: the
// root of a mount below /proc is something mounted over a process's file
// or folder. The mount id where the kernel gives it (a user-mode emulator
// may pass on the flag but not the id: 0, which no /proc mount bears), else
// the device.
bool OnRootMount(const HeldRoot& root, const struct statx& seen) {
  if ((seen.stx_attributes_mask & seen.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0) return false;
  if (root.hasMountId && (seen.stx_mask & STATX_MNT_ID) != 0 && seen.stx_mnt_id != 0) {
    return seen.stx_mnt_id == root.mountId;
  }
  return seen.stx_dev_major == root.deviceMajor && seen.stx_dev_minor == root.deviceMinor;
}

// The kind of file the flags ask for: a folder, a link (looked at, never
// followed), else a regular file.
bool OfKind(unsigned mode, int flags) {
  if ((flags & O_DIRECTORY) != 0) return S_ISDIR(mode);
  if ((flags & O_PATH) != 0) return S_ISLNK(mode);
  return S_ISREG(mode);
}

void CloseKeepingErrno(int fd) {
  const int error = errno;
  close(fd);
  errno = error;
}

// Why a path was not found without openat2: a folder on its way that lies
// on another mount (EXDEV: something covers a process's folder, which then
// shows what it likes) rather than the process having gone (ENOENT); each
// folder named on the way is looked at in turn.
int WhyNotFound(const HeldRoot& root, int dirFd, const char* path) {
  char folder[64];
  for (const char* slash = std::strchr(path, '/'); slash != nullptr; slash = std::strchr(slash + 1, '/')) {
    const auto length = static_cast<std::size_t>(slash - path);
    if (length >= sizeof folder) return EXDEV;  // no path the backend opens
    std::memcpy(folder, path, length);
    folder[length] = '\0';
    struct statx seen {};
    if (statx(dirFd, folder, 0, kLookMask, &seen) != 0) return errno;
    if (!S_ISDIR(seen.stx_mode) || !OnRootMount(root, seen)) return EXDEV;
  }
  return ENOENT;
}

// Without openat2: looks at the file before it opens it, and opens it only
// when it is what it was looked at as; EXDEV where it is of another kind or
// on another mount, or was replaced between the two.
int OpenLooked(const HeldRoot& root, int dirFd, const char* path, int flags) {
  const int look = openat(dirFd, path, O_PATH | O_NOFOLLOW | O_CLOEXEC | (flags & O_DIRECTORY));
  if (look < 0) {
    if (errno == ENOENT) errno = WhyNotFound(root, dirFd, path);
    return -1;
  }
  struct statx seen {};
  if (statx(look, "", AT_EMPTY_PATH, kLookMask, &seen) != 0) {
    CloseKeepingErrno(look);
    return -1;
  }
  if (!OfKind(seen.stx_mode, flags) || !OnRootMount(root, seen)) {
    close(look);
    errno = EXDEV;
    return -1;
  }
  if ((flags & O_PATH) != 0) return look;
  const int fd = openat(dirFd, path, flags | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  CloseKeepingErrno(look);
  if (fd < 0) return -1;
  struct stat opened {};
  if (fstat(fd, &opened) != 0) {
    CloseKeepingErrno(fd);
    return -1;
  }
  if (opened.st_ino != seen.stx_ino || major(opened.st_dev) != seen.stx_dev_major ||
      minor(opened.st_dev) != seen.stx_dev_minor) {
    close(fd);
    errno = EXDEV;
    return -1;
  }
  return fd;
}

int OpenOnce(int dirFd, const char* path, int flags) {
  if (dirFd == AT_FDCWD) return openat(dirFd, path, flags);
  const HeldRoot* root = RootOf(dirFd);
  if (root == nullptr) {  // no /proc root open
    errno = EBADF;
    return -1;
  }
  return root->openat2 ? Openat2(dirFd, path, flags) : OpenLooked(*root, dirFd, path, flags);
}

}  // namespace

bool RaiseDescriptorLimit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur >= files.rlim_max) return false;
  files.rlim_cur = files.rlim_max;
  return setrlimit(RLIMIT_NOFILE, &files) == 0;
}

namespace {

// An open that found no descriptor left is made again once the soft limit
// is raised towards the hard one, where it can be.
template <typename Open>
int WithRoomForOne(Open open) {
  const int fd = open();
  if (fd >= 0 || errno != EMFILE || !RaiseDescriptorLimit()) return fd;
  return open();
}

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

void SetReadError(const char* file, int error) {
  static char reason[160];
  std::snprintf(reason, sizeof reason, "%s%s%s: %s", g_procRoot, file != nullptr ? "/" : "",
                file != nullptr ? file : "", std::strerror(error));
  SetLastError(ErrorFromErrno(error), reason);
}

int OpenRoot() {
  const int fd = WithRoomForOne([] { return open(g_procRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (fd < 0) return fd;
  HeldRoot root{fd, 1};
  const int probe =
      g_openat2Refused ? -1 : WithRoomForOne([fd] { return Openat2(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (probe >= 0) {
    close(probe);
    root.openat2 = true;
    AddRoot(root);
    return fd;
  }
  struct statx seen {};
  if (statx(fd, "", AT_EMPTY_PATH, kLookMask, &seen) != 0) {
    CloseKeepingErrno(fd);
    return -1;
  }
  root.hasMountId = (seen.stx_mask & STATX_MNT_ID) != 0 && seen.stx_mnt_id != 0;
  root.mountId = seen.stx_mnt_id;
  root.deviceMajor = seen.stx_dev_major;
  root.deviceMinor = seen.stx_dev_minor;
  AddRoot(root);
  return fd;
}

void HoldRoot(int rootFd) {
  if (HeldRoot* root = RootOf(rootFd)) ++root->users;
}

void ReleaseRoot(int rootFd) {
  HeldRoot* root = RootOf(rootFd);
  if (root == nullptr || --root->users != 0) return;
  close(rootFd);
  *root = HeldRoot{};
}

const char* ProcRoot() { return g_procRoot; }

// A tree a test fabricated (SetProcRoot) cannot pass: it is a folder of
// another file system, and a test may not mount a proc file system of its
// own. So only "/proc" itself is checked; nothing else the backend does
// depends on the setting but where it reads.
const char* WhyNotProcRoot(int rootFd) {
  if (g_procRoot != kProcRoot) return nullptr;
  constexpr long kProcSuperMagic = 0x9fa0;
  constexpr ino_t kProcRootInode = 1;
  static char reason[96];
  auto unlooked = [](int error) {  // a look that failed says why, not what /proc is
    std::snprintf(reason, sizeof reason, "%s: %s", kProcRoot, std::strerror(error));
    return reason;
  };
  struct statfs fileSystem {};
  struct stat info {};
  if (fstatfs(rootFd, &fileSystem) != 0) return unlooked(errno);
  if (fileSystem.f_type != kProcSuperMagic) return "/proc is not a proc file system";
  if (fstat(rootFd, &info) != 0) return unlooked(errno);
  if (info.st_ino != kProcRootInode) return "/proc is a folder of a proc file system, not its root";
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

long RetryInterrupted(long (*call)(int fd, void* data, std::size_t size), int fd, void* data, std::size_t size) {
  constexpr int kInterruptionsMost = 8;
  long n = call(fd, data, size);
  for (int again = 0; n < 0 && errno == EINTR && again < kInterruptionsMost; ++again) n = call(fd, data, size);
  return n;
}

namespace {

long ReadOnce(int fd, void* data, std::size_t size) { return read(fd, data, size); }

}  // namespace

int OpenBelow(int dirFd, const char* path, int flags) {
  flags |= O_CLOEXEC;
  return WithRoomForOne([=] { return OpenOnce(dirFd, path, flags); });
}

long ReadLinkBelow(int dirFd, const char* path, char* text, std::size_t size) {
  const int fd = OpenBelow(dirFd, path, O_PATH | O_NOFOLLOW);
  if (fd < 0) return -1;
  const ssize_t n = readlinkat(fd, "", text, size);
  CloseKeepingErrno(fd);
  return n;
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
    const long n = RetryInterrupted(ReadOnce, fd, buffer->data + size, asked);
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
  if (size > most) errno = EFBIG;
  CloseKeepingErrno(fd);
  if (!whole || size > most) return false;
  *text = {buffer->data, size};
  return true;
}

bool ReadProcFile(const char* relative, std::size_t most, FileBuffer* buffer, std::string_view* text) {
  *text = {};
  const int rootFd = OpenRoot();
  if (rootFd < 0) return false;
  const bool read = ReadWhole(rootFd, relative, most, buffer, text);
  const int error = errno;
  ReleaseRoot(rootFd);
  errno = error;
  return read;
}

bool ReadProcLines(const char* relative, std::size_t lineMost, FileBuffer* buffer,
                   void (*take)(std::string_view line, void* context), void* context) {
  const int rootFd = OpenRoot();
  const int fd = rootFd < 0 ? -1 : OpenBelow(rootFd, relative, O_RDONLY);
  if (rootFd >= 0) ReleaseRoot(rootFd);
  if (fd < 0) return false;
  std::size_t size = 0;   // bytes of a line not yet ended
  bool overlong = false;  // the line being read is longer than lineMost: passed over
  bool whole = false;
  for (;;) {
    if (size == buffer->capacity && !Grow(buffer, lineMost)) {
      overlong = true;
      size = 0;
    }
    const long n = RetryInterrupted(ReadOnce, fd, buffer->data + size, buffer->capacity - size);
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

void SetOpenat2Refused(bool refused) { linux_backend::g_openat2Refused = refused; }

std::uint32_t GetLastError() { return linux_backend::g_lastError; }

const char* DescribeLastError() { return linux_backend::g_lastErrorText; }

}  // namespace stopex
