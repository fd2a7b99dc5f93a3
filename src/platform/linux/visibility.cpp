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
enum class Member { Yes, No, Unknown };
Member InGroup(std::uint32_t gid) {
  if (getegid() == gid) return Member::Yes;
  const int most = getgroups(0, nullptr);
  if (most <= 0) return most == 0 ? Member::No : Member::Unknown;
  auto* groups = static_cast<gid_t*>(Resize(nullptr, static_cast<std::size_t>(most), sizeof(gid_t)));
  const int count = getgroups(most, groups);
  const int error = errno;
  const std::span<const gid_t> filled(groups, count > 0 ? static_cast<std::size_t>(count) : 0);
  const bool member = std::ranges::find(filled, static_cast<gid_t>(gid)) != filled.end();
  std::free(groups);
  errno = error;
  return count < 0 ? Member::Unknown : member ? Member::Yes : Member::No;
}

// Whether /proc hides anything could not be learned: what could not be read.
Hiding Unknown(const char* what, const char** why) {
  static char reason[384];
  std::snprintf(reason, sizeof reason, "whether /proc hides other users' processes is unknown: %s: %s", what,
                std::strerror(errno));
  *why = reason;
  return Hiding::Unknown;
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
  char file[256];
  std::snprintf(file, sizeof file, "%s/self/mountinfo", ProcRoot());
  if (!ReadProcLines("self/mountinfo", kMountLineMost, &buffer, take, &mount)) return Unknown(file, why);
  if (!mount.found || mount.hidePid == HidePid::Off) return Hiding::None;
  // The group gid= names sees them all, unless only what may be traced is shown.
  const Member member = mount.hasGid && mount.hidePid != HidePid::Ptraceable ? InGroup(mount.gid) : Member::No;
  if (member == Member::Unknown) return Unknown("the groups of this process", why);
  if (member == Member::Yes) return Hiding::None;
  // One that may trace every process sees them all: CAP_SYS_PTRACE, held in
  // the first user namespace (one held in another reaches only its own).
  std::string_view text;
  StatusFields self;
  std::snprintf(file, sizeof file, "%s/self/status", ProcRoot());
  if (!ReadProcFile("self/status", kStatusFileMost, &buffer, &text)) return Unknown(file, why);
  ParseStatus(text, &self);
  if (self.mayTrace) {
    std::snprintf(file, sizeof file, "%s/self/uid_map", ProcRoot());
    // A kernel without user namespaces has no such file: all is the first.
    if (!ReadProcFile("self/uid_map", kShortFileMost, &buffer, &text)) {
      if (errno != ENOENT) return Unknown(file, why);
      return Hiding::None;
    }
    if (MapsEveryIdToItself(text)) return Hiding::None;
  }
  *why = "/proc is mounted with hidepid: other users' processes are hidden from this one";
  return mount.hidePid == HidePid::NoAccess ? Hiding::Refuses : Hiding::Invisible;
}

}  // namespace linux_backend

const char* DescribeHiddenProcesses() {
  const char* why = nullptr;
  linux_backend::LookForHiding(&why);
  return why;
}

}  // namespace stopex
