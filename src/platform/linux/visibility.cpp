// Whether /proc shows this user every process: a proc file system mounted
// with hidepid hides other users' processes from all but the privileged.
#include "platform/linux/visibility.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include <unistd.h>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "platform/memory.h"
#include "platform/process_api.h"

namespace stopex {
namespace linux_backend {
namespace {

// Whether the program is a member of the group, as the kernel's check of
// the gid= option asks it.
bool InGroup(std::uint32_t gid) {
  if (getegid() == gid) return true;
  const int most = getgroups(0, nullptr);
  if (most <= 0) return false;
  auto* groups = static_cast<gid_t*>(Resize(nullptr, static_cast<std::size_t>(most), sizeof(gid_t)));
  const int count = getgroups(most, groups);
  const std::span<const gid_t> filled(groups, count > 0 ? static_cast<std::size_t>(count) : 0);
  const bool member = std::ranges::find(filled, static_cast<gid_t>(gid)) != filled.end();
  std::free(groups);
  return member;
}

}  // namespace

// Each line of mountinfo is read whole, however long the file: the mount
// on top of /proc is the last line that names it.
Hiding LookForHiding(const char** why) {
  static FileBuffer buffer;
  ProcMount mount;
  auto take = [](std::string_view line, void* context) {
    ParseProcMountLine(line, ProcRoot(), static_cast<ProcMount*>(context));
  };
  *why = nullptr;
  if (!ReadProcLines("self/mountinfo", kMountLineMost, &buffer, take, &mount)) {
    static char reason[128];
    std::snprintf(reason, sizeof reason, "whether /proc hides other users' processes is unknown: %s/self/mountinfo: %s",
                  ProcRoot(), std::strerror(errno));
    *why = reason;
    return Hiding::Unknown;
  }
  if (!mount.found || !mount.hidesOthers || (mount.hasGid && InGroup(mount.gid))) return Hiding::None;
  std::string_view text;
  StatusFields self;
  if (ReadProcFile("self/status", kStatusFileMost, &buffer, &text)) ParseStatus(text, &self);
  if (self.mayTrace) return Hiding::None;
  *why = "/proc is mounted with hidepid: other users' processes are hidden from this one";
  return Hiding::Others;
}

}  // namespace linux_backend

const char* DescribeHiddenProcesses() {
  const char* why = nullptr;
  linux_backend::LookForHiding(&why);
  return why;
}

}  // namespace stopex
