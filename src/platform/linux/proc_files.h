// Reading the Linux /proc file system for the backend: where it is, one small
// file in one read, whether a process the snapshot saw still runs, and the
// Windows error codes every failure is reported with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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

// The backend's last error, as GetLastError reports it.
void SetLastError(std::uint32_t code);

// A stat line is far shorter than this, whatever the name holds.
inline constexpr std::size_t kStatBufferSize = 1024;

// The /proc directory, opened for reading files below it; negative on failure.
int OpenRoot();

// Reads the start of a small file below the root, up to the buffer's size;
// empty when it cannot be read.
std::string_view ReadSmallFile(int rootFd, const char* path, char* buffer, std::size_t size);

enum class Liveness { Running, Ending, Gone };

// Whether the process behind pid is still the one that started at startTime,
// and whether it still runs. An id that now belongs to another process, or a
// process that has ended, counts as gone.
Liveness CheckProcess(std::uint32_t pid, std::uint64_t startTime);

}  // namespace stopex::linux_backend
