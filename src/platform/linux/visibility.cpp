// Whether /proc shows this user every process: a proc file system mounted
// with hidepid hides other users' processes from all but the privileged.
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parse.h"
#include "platform/memory.h"
#include "platform/process_api.h"

namespace stopex {

using namespace linux_backend;

namespace {

// Whether the program is a member of the group, as the kernel's check of
// the gid= option asks it.
bool InGroup(std::uint32_t gid) {
  if (getegid() == gid) return true;
  const int most = getgroups(0, nullptr);
  if (most <= 0) return false;
  auto* groups = static_cast<gid_t*>(Resize(nullptr, static_cast<std::size_t>(most), sizeof(gid_t)));
  const int count = getgroups(most, groups);
  bool member = false;
  for (int i = 0; i < count; ++i) member = member || groups[i] == gid;
  std::free(groups);
  return member;
}

}  // namespace

const char* DescribeHiddenProcesses() {
  static FileBuffer buffer;
  std::string_view text;
  if (!ReadProcFile("self/mountinfo", kMountInfoMost, &buffer, &text)) return nullptr;
  const ProcMount mount = ParseProcMount(text, ProcRoot());
  if (!mount.found || !mount.hidesOthers || (mount.hasGid && InGroup(mount.gid))) return nullptr;
  StatusFields self;
  if (ReadStatus(AT_FDCWD, "self", &self) && self.mayTrace) return nullptr;
  return "/proc is mounted with hidepid: other users' processes are hidden from this one";
}

}  // namespace stopex
