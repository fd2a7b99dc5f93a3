// One process's record as the walk lists it, read from its folder below
// /proc: the name the list shows, completed where the kernel cut it, and
// what identifies the process. A record is taken only where it bears the
// number of the folder it was read from.
#include "platform/linux/record.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"

namespace stopex::linux_backend {
namespace {

// Each file a record is made from is read whole into a buffer of its own.
FileBuffer g_statBuffer;
FileBuffer g_argumentBuffer;

// A thread of the process other than its first, which has ended: the
// argument block and the executable are the process's, read through any
// thread. 0 where one is found, ENOENT where none is left, else the errno
// of a folder that could not be read.
int OtherThread(int rootFd, std::uint32_t pid, char (&folder)[48]) {
  std::snprintf(folder, sizeof folder, "%u/task", pid);
  const int fd = OpenBelow(rootFd, folder, O_RDONLY | O_DIRECTORY);
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr) {
    const int error = errno;
    if (fd >= 0) close(fd);
    return error;
  }
  std::uint32_t thread = 0;
  errno = 0;
  while (const dirent* d = readdir(dir)) {
    if (ParseProcessId(d->d_name, &thread) && thread != pid) break;
    thread = 0;
  }
  const int error = thread == 0 ? errno : 0;  // readdir ends with errno set where the folder failed
  closedir(dir);
  std::snprintf(folder, sizeof folder, "%u/task/%u", pid, thread);
  return thread != 0 ? 0 : error != 0 ? error : ENOENT;
}

// Whether a look at a path that failed so says that no file bears it.
bool NamesNoFile(int error) { return error == ENOENT || error == ENOTDIR || error == ELOOP || error == ENAMETOOLONG; }

// The kernel marks the path of an executable whose name was deleted; a
// file's own name may end so too. The mark is the kernel's unless the path,
// mark and all, is the executable itself, as the process sees it (below its
// own root, in its own mount namespace): 0 with the path without the
// kernel's mark, or the errno where which it is could not be told.
int WithoutDeletedMark(int rootFd, const char* folder, char* path, std::size_t length, std::string_view* text) {
  constexpr std::string_view kDeleted = " (deleted)";
  *text = {path, length};
  if (!text->ends_with(kDeleted) || text->size() == kDeleted.size()) return 0;
  char seen[4160];
  std::snprintf(seen, sizeof seen, "%s/exe", folder);
  struct stat running {};
  struct stat named {};
  if (fstatat(rootFd, seen, &running, 0) != 0) return errno;
  std::snprintf(seen, sizeof seen, "%s/root%.*s", folder, static_cast<int>(length), path);
  const bool found = path[0] == '/' && fstatat(rootFd, seen, &named, 0) == 0;
  if (!found && path[0] == '/' && !NamesNoFile(errno)) return errno;
  const bool itself = found && running.st_dev == named.st_dev && running.st_ino == named.st_ino;
  if (!itself) text->remove_suffix(kDeleted.size());
  return 0;
}

}  // namespace

int ReadCompletedName(int rootFd, const char* folder, std::string_view kernelName, char (&name)[kExeFileSize]) {
  char path[64];
  std::snprintf(path, sizeof path, "%s/cmdline", folder);
  std::string_view argument;
  // An argument longer than any can be names nothing.
  if (!ReadWhole(rootFd, path, ArgumentMost(), &g_argumentBuffer, &argument, Until::FirstNul) && errno != EFBIG) {
    return errno;
  }

  std::snprintf(path, sizeof path, "%s/exe", folder);
  char exe[4097];  // a path, or one byte more: cut
  const long n = ReadLinkBelow(rootFd, path, exe, sizeof exe);
  // Other users' executables are hidden from this one, and a process that
  // has let its memory go (a kernel thread, one ending) has none.
  if (n < 0 && errno != EACCES && errno != EPERM && errno != ENOENT) return errno;
  std::string_view exePath;
  if (n > 0 && static_cast<std::size_t>(n) < sizeof exe) {
    if (const int error = WithoutDeletedMark(rootFd, folder, exe, static_cast<std::size_t>(n), &exePath)) return error;
  }
  StoreImageName(CompleteName(kernelName, argument, exePath), name, sizeof name, LocaleCharset());
  return 0;
}

int ReadRecord(int rootFd, std::uint32_t pid, Record* record) {
  char path[48];
  std::snprintf(path, sizeof path, "%u/stat", pid);
  std::string_view stat;
  StatFields fields;
  if (!ReadWhole(rootFd, path, kShortFileMost, &g_statBuffer, &stat, Until::LineEnd)) return errno;
  if (stat.empty()) return ENOENT;  // the kernel gives nothing of a process that has gone
  if (!ParseStatLine(stat, &fields) || fields.pid != pid) return EXDEV;
  if (HasEnded(fields)) return ENOENT;
  *record = Record{};
  record->pid = pid;
  record->startTime = fields.startTime;
  if (fields.name.size() < sizeof record->kernelName) {
    std::memcpy(record->kernelName, fields.name.data(), fields.name.size());
  }
  StoreImageName(fields.name, record->name, sizeof record->name, LocaleCharset());
  if (fields.name.size() == kKernelNameMax) {
    char folder[48];
    std::snprintf(folder, sizeof folder, "%u", pid);
    int error = LeaderHasEnded(fields) ? OtherThread(rootFd, pid, folder) : 0;
    if (error == 0) {
      error = ReadCompletedName(rootFd, folder, fields.name, record->name);
      record->completed = std::strlen(record->name) != fields.name.size();
      if (record->completed) std::memcpy(record->folder, folder, sizeof folder);
    }
    if (error != 0) return error;
  }
  return 0;
}

}  // namespace stopex::linux_backend
