// Whether /proc shows this user every process: a proc file system mounted
// with hidepid hides other users' processes from all but the privileged.
#include <algorithm>
#include <cstdlib>
#include <span>
#include <string_view>

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
  const std::span<const gid_t> filled(groups, count > 0 ? static_cast<std::size_t>(count) : 0);
  const bool member = std::ranges::find(filled, static_cast<gid_t>(gid)) != filled.end();
  std::free(groups);
  return member;
}

}  // namespace

// Each line of mountinfo is read whole, however long the file: the mount
// on top of /proc is the last line that names it.
const char* DescribeHiddenProcesses() {
  static FileBuffer buffer;
  ProcMount mount;
  auto take = [](std::string_view line, void* context) {
    ParseProcMountLine(line, ProcRoot(), static_cast<ProcMount*>(context));
  };
  if (!ReadProcLines("self/mountinfo", kMountLineMost, &buffer, take, &mount)) return nullptr;
  if (!mount.found || !mount.hidesOthers || (mount.hasGid && InGroup(mount.gid))) return nullptr;
  std::string_view text;
  StatusFields self;
  if (ReadProcFile("self/status", kStatusFileMost, &buffer, &text)) ParseStatus(text, &self);
  if (self.mayTrace) return nullptr;
  return "/proc is mounted with hidepid: other users' processes are hidden from this one";
}

}  // namespace stopex
