// Reading the Linux /proc file system for the backend: where it is, one small
// file in one read, whether a process the snapshot saw still runs, and the
// Windows error codes every failure is reported with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/linux/proc_parse.h"

namespace stopex::linux_backend {

// Windows error codes the backend reports.
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorBadLength = 24;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;  // also: no such process
inline constexpr std::uint32_t kErrorInvalidHandle = 6;

std::uint32_t ErrorFromErrno(int error);

// The backend's last error, as GetLastError reports it, and what the code
// does not say by itself (null where it says all), as DescribeLastError
// reports it; the text must outlive the run.
void SetLastError(std::uint32_t code, const char* text = nullptr);

// A stat line is far shorter than this, whatever the name holds; so is a
// status file, or the start of it that holds the lines the backend reads.
inline constexpr std::size_t kStatBufferSize = 1024;
inline constexpr std::size_t kStatusBufferSize = 4096;

// The /proc directory, opened for reading files below it; negative on failure.
int OpenRoot();
const char* ProcRoot();

// False when the open root is not a proc file system (an empty file system
// mounted in its place, say). A tree a test fabricated passes.
bool IsProcFileSystem(int rootFd);

// Reads the start of a small file below the root, up to the buffer's size;
// empty when it cannot be read.
std::string_view ReadSmallFile(int rootFd, const char* path, char* buffer, std::size_t size);

// The same for a file below /proc, without a root opened for it: one open
// where a look at one process needs no more.
std::string_view ReadProcFile(const char* relative, char* buffer, std::size_t size);

// Reads and parses PATH/status below the root (PATH a number, or "self");
// false when it cannot be read.
bool ReadStatus(int rootFd, const char* path, StatusFields* fields);

enum class Liveness { Running, Ending, Gone };

// Whether the process behind pid is still the one that started at startTime,
// and whether it still runs. An id that now belongs to another process, or a
// process that has ended, counts as gone.
Liveness CheckProcess(std::uint32_t pid, std::uint64_t startTime);

// True when the process ignores SIGKILL: only kernel threads can.
bool IgnoresKill(std::uint32_t pid);

}  // namespace stopex::linux_backend
