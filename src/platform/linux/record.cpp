// One process's record as the walk lists it, read from its folder below
// /proc: the name the list shows, completed where the kernel cut it, and
// what identifies the process. A record is taken only where it bears the
// number of the folder it was read from.
#include "platform/linux/record.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
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
// thread. False where none is left.
bool OtherThread(int rootFd, std::uint32_t pid, char (&folder)[48]) {
  std::snprintf(folder, sizeof folder, "%u/task", pid);
  const int fd = openat(rootFd, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr) {
    if (fd >= 0) close(fd);
    return false;
  }
  std::uint32_t thread = 0;
  while (const dirent* d = readdir(dir)) {
    if (ParseProcessId(d->d_name, &thread) && thread != pid) break;
    thread = 0;
  }
  closedir(dir);
  std::snprintf(folder, sizeof folder, "%u/task/%u", pid, thread);
  return thread != 0;
}

// The name the kernel cut at fifteen bytes, completed from the first
// argument or the executable's path, read below folder ("N", or a thread's
// "N/task/T"). A first argument or a path that cannot be read whole
// completes nothing.
std::string_view Complete(int rootFd, const char* folder, std::string_view kernelName, Record* record,
                          char* exe, std::size_t exeSize) {
  char path[64];
  std::snprintf(path, sizeof path, "%s/cmdline", folder);
  std::string_view argument;
  ReadWhole(rootFd, path, ArgumentMost(), &g_argumentBuffer, &argument, Until::FirstNul);

  std::snprintf(path, sizeof path, "%s/exe", folder);
  const ssize_t n = readlinkat(rootFd, path, exe, exeSize);
  std::string_view exePath;
  if (n > 0 && static_cast<std::size_t>(n) < exeSize) exePath = {exe, static_cast<std::size_t>(n)};
  // The kernel marks the path of an executable that has been deleted; a
  // file's own name may end so too.
  bool deleted = false;
  record->exe = ReadExeId(rootFd, folder, &deleted);
  constexpr std::string_view kDeleted = " (deleted)";
  if (deleted && exePath.size() > kDeleted.size() && exePath.ends_with(kDeleted)) {
    exePath.remove_suffix(kDeleted.size());
  }
  return CompleteName(kernelName, argument, exePath);
}

}  // namespace

bool ReadRecord(int rootFd, std::uint32_t pid, Record* record) {
  char path[48];
  std::snprintf(path, sizeof path, "%u/stat", pid);
  std::string_view stat;
  StatFields fields;
  if (!ReadWhole(rootFd, path, kShortFileMost, &g_statBuffer, &stat, Until::LineEnd) ||
      !ParseStatLine(stat, &fields) || fields.pid != pid || HasEnded(fields)) {
    return false;
  }
  *record = Record{};
  record->pid = pid;
  record->startTime = fields.startTime;
  if (fields.name.size() < sizeof record->kernelName) {
    std::memcpy(record->kernelName, fields.name.data(), fields.name.size());
  }
  std::string_view name = fields.name;
  if (name.size() == kKernelNameMax) {
    char folder[48];
    std::snprintf(folder, sizeof folder, "%u", pid);
    if (!LeaderHasEnded(fields) || OtherThread(rootFd, pid, folder)) {
      char exe[4097];  // a path, or one byte more: cut
      name = Complete(rootFd, folder, fields.name, record, exe, sizeof exe);
      record->completed = name.size() != fields.name.size();
      if (record->completed) std::memcpy(record->folder, folder, sizeof folder);
      StoreImageName(name, record->name, sizeof record->name);
      return true;
    }
  }
  StoreImageName(name, record->name, sizeof record->name);
  return true;
}

}  // namespace stopex::linux_backend
