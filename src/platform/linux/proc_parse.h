// Parsing of the texts the Linux /proc file system gives: a process's stat
// line, status file and argument block, and the mountinfo lines that tell
// how /proc is mounted. Pure functions over bytes; the one that writes,
// StoreImageName, writes only into the field it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/linux/shown_name.h"

namespace stopex {

// The kernel keeps at most this many bytes of a process's name.
inline constexpr std::size_t kKernelNameMax = 15;
// Nor is a file name longer than this (NAME_MAX).
inline constexpr std::size_t kNameMax = 255;

struct StatFields {
  std::uint32_t pid = 0;       // field 1: the number the record itself bears
  std::string_view name;       // between the first "(" and the last ")"
  char state = '?';            // field 3: 'R', 'S', ... and 'Z' or 'X' once it has ended
  std::uint64_t flags = 0;     // field 9, the kernel's process flags
  std::uint64_t threads = 0;   // field 20
  std::uint64_t startTime = 0; // field 22, in clock ticks after boot
};

// The state and flags are those of the process's first thread, which may
// have ended (pthread_exit) while the others go on: the process has ended
// only when that thread has and no other is left.

// A process that has ended but whose parent has not yet collected it.
inline bool HasEnded(const StatFields& fields) {
  return (fields.state == 'Z' || fields.state == 'X') && fields.threads <= 1;
}

// A kernel thread (PF_KTHREAD): no signal of a user's ever reaches it.
inline bool IsKernelThread(const StatFields& fields) { return (fields.flags & 0x00200000) != 0; }

// A process whose first thread has ended while others run on: its own
// argument block and executable can no longer be read, only a thread's.
inline bool LeaderHasEnded(const StatFields& fields) {
  return (fields.state == 'Z' || fields.state == 'X') && fields.threads > 1;
}

// A process that has begun to end (the kernel's PF_EXITING in its only
// thread): a signal sent now would be dropped, whatever it is.
inline bool IsEnding(const StatFields& fields) { return (fields.flags & 0x4) != 0 && fields.threads <= 1; }

// False when the line is not a stat line (no number before "(...)", too few
// fields, or a start time that is not a number).
bool ParseStatLine(std::string_view line, StatFields* fields);

// A process id as /proc writes it: decimal, above 0, fitting 32 bits.
bool ParseProcessId(std::string_view text, std::uint32_t* pid);

// PID namespaces nest at most 32 levels below the first, so a process has
// a number in at most 33 of them.
inline constexpr std::size_t kMaxNamespaceLevels = 33;

struct StatusFields {
  std::uint32_t pid = 0;       // the Pid line; 0 where there is none, or it is not positive
  // The NSpid line: the process's id in the namespace of the /proc it was
  // read from, then in each namespace nested below that, down to its own.
  std::uint32_t nsPids[kMaxNamespaceLevels] = {};
  std::size_t nsPidCount = 0;  // 0: the kernel gives no such line
  bool mayTrace = false;       // CAP_SYS_PTRACE in the CapEff mask
};

// Reads the lines a status file (or a process descriptor's fdinfo) holds;
// a line that is missing or not as the kernel writes it leaves its field as
// a default-made StatusFields has it.
void ParseStatus(std::string_view text, StatusFields* fields);

// How a proc file system treats other users' processes (its hidepid
// option): shows them; lists them with nothing in them to read (noaccess);
// leaves them out (invisible); leaves out those this user may not trace,
// whatever its group (ptraceable).
enum class HidePid { Off, NoAccess, Invisible, Ptraceable };

// How the proc file system mounted at one place shows processes: its last
// mount there, the one on top, as a mountinfo file lists it, line by line.
struct ProcMount {
  bool found = false;  // a proc file system is mounted there
  HidePid hidePid = HidePid::Off;
  std::uint32_t gid = 0;  // the group that sees them all the same (gid=), 0 for none
  bool hasGid = false;
};
// Takes one line of mountinfo (without its line break) into the mount: a
// later line is a mount on top of an earlier one. A hidepid value this
// does not know counts as invisible.
void ParseProcMountLine(std::string_view line, std::string_view mountPoint, ProcMount* mount);

// Whether a uid_map maps every id to itself: the first user namespace's, in
// which a capability reaches every process.
bool MapsEveryIdToItself(std::string_view uidMap);

// The name as the process list shows it: the kernel's name, completed from
// the base name of argv[0] (or of the executable's path) when the kernel cut
// it at 15 bytes and that base name, a file name of at most 255 bytes, begins
// with it. An executable named exactly as the kernel's name was not cut.
std::string_view CompleteName(std::string_view kernelName, std::string_view cmdline,
                              std::string_view exePath);

// Copies a name into a terminated image-name field of the given size,
// cutting it to fit, and shows it as ShowAsName does in that character set.
void StoreImageName(std::string_view name, char* field, std::size_t fieldSize, NameCharset charset);

}  // namespace stopex
