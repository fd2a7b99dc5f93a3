// Parsing of the texts the Linux /proc file system gives for one process:
// its stat line and its argument block. Pure functions over bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace stopex {

// The kernel keeps at most this many bytes of a process's name.
inline constexpr std::size_t kKernelNameMax = 15;

struct StatFields {
  std::string_view name;       // between the first "(" and the last ")"
  char state = '?';            // field 3: 'R', 'S', ... and 'Z' or 'X' once it has ended
  std::uint64_t flags = 0;     // field 9, the kernel's process flags
  std::uint64_t startTime = 0; // field 22, in clock ticks after boot
};

// A process that has ended but whose parent has not yet collected it.
inline bool HasEnded(const StatFields& fields) { return fields.state == 'Z' || fields.state == 'X'; }

// A process that has begun to end (the kernel's PF_EXITING): a signal sent
// now would be dropped, whatever it is.
inline bool IsEnding(const StatFields& fields) { return (fields.flags & 0x4) != 0; }

// False when the line is not a stat line (no "(...)", too few fields, or a
// start time that is not a number).
bool ParseStatLine(std::string_view line, StatFields* fields);

// The name as the process list shows it: the kernel's name, completed from
// the base name of argv[0] (or of the executable's path) when the kernel cut
// it at 15 bytes and that base name begins with it.
std::string_view CompleteName(std::string_view kernelName, std::string_view cmdline,
                              std::string_view exePath);

// Copies a name into a terminated image-name field of the given size,
// cutting it to fit and showing control characters as "?", as the usual
// process lists do, so that one process is always one line.
void StoreImageName(std::string_view name, char* field, std::size_t fieldSize);

}  // namespace stopex
