// Reading the Linux /proc file system for the backend, and the backend's
// errors: where /proc is, its roots held open, the open that keeps to a
// root's mount, a file read whole or not at all, a file read line by line,
// each line whole, the descriptor limit, and the last error with the Windows
// codes every failure is reported with.
#pragma once

#include <cerrno>
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

// Sets the last error for /proc, or a file below it (file null: /proc
// itself), that could not be read, with the system's reason.
void SetReadError(const char* file, int error);

// A buffer that grows to hold the longest file read into it and is kept for
// the run: memory grows with that file, never with the number of processes.
struct FileBuffer {
  char* data = nullptr;
  std::size_t capacity = 0;
};

// Most bytes each kind of file is read to; a longer one counts as unreadable.
// A status file lists up to 65,536 supplementary groups; one argument (argv[0])
// holds up to 32 pages; the others are far shorter than the first bound.
inline constexpr std::size_t kShortFileMost = std::size_t{64} * 1024;
inline constexpr std::size_t kStatusFileMost = std::size_t{4} * 1024 * 1024;
// A line of mountinfo: four escaped paths and the options.
inline constexpr std::size_t kMountLineMost = std::size_t{1} << 20;
std::size_t ArgumentMost();

// Where a text read ends: at the end of the file; with the first NUL,
// included (the first argument of an argument block); or, for a file of one
// line, at a line break that a read returning less than asked for ends with
// (the kernel writes such a file with one read, so none is left to ask for).
enum class Until { End, FirstNul, LineEnd };

// Opens a path below dirFd, a /proc root open (OpenRoot), only on that
// root's mount (a path from the root ignores dirFd): a process's
// folder or file that another is mounted over is not opened (EXDEV), so that
// what is read is what the proc file system itself says of that number.
// Where openat2 is to be had the kernel refuses to cross a mount; where not,
// the file is looked at first (O_PATH) and opened only when it is of the
// kind asked for (a folder with O_DIRECTORY, a link with O_PATH, else a
// regular file) and on that mount: a FIFO or a device put there is never
// opened. A descriptor limit reached is raised towards the hard one once.
int OpenBelow(int dirFd, const char* path, int flags);

// Raises the soft limit of open descriptors to the hard one; false where
// it is there already or may not be raised.
bool RaiseDescriptorLimit();

// Reads the link below dirFd, under the same rule; its length, or -1.
long ReadLinkBelow(int dirFd, const char* path, char* text, std::size_t size);

// Whether the error says that a process is gone, rather than that its
// files could not be read.
inline bool SaysGone(int error) { return error == ENOENT || error == ESRCH; }

// Makes a read-like call again where a signal interrupted it, a few times
// at most: one interrupted again and again fails with EINTR, so that no
// filter can keep the program turning.
long RetryInterrupted(long (*call)(int fd, void* data, std::size_t size), int fd, void* data, std::size_t size);

// Reads a file below dirFd whole (a path from the root ignores dirFd). False
// with errno where it cannot be read, or runs past most bytes (EFBIG): a text
// that may have been cut is never taken for the whole.
bool ReadWhole(int dirFd, const char* path, std::size_t most, FileBuffer* buffer, std::string_view* text,
               Until until = Until::End);

// The same for a file below /proc, without a root opened for it: one open
// where a look at one process needs no more.
bool ReadProcFile(const char* relative, std::size_t most, FileBuffer* buffer, std::string_view* text);

// Hands each line of a file below /proc to take, without its line break,
// each whole, in order, passing over a line longer than lineMost; false
// where the file cannot be read to its end (the lines handed out stand).
bool ReadProcLines(const char* relative, std::size_t lineMost, FileBuffer* buffer,
                   void (*take)(std::string_view line, void* context), void* context);

// The /proc directory, opened for reading files below it, and held once;
// negative on failure. Whether openat2 can keep OpenBelow on its mount is
// decided here, once for the root, from what the kernel (or a filter)
// answers, and kept with the root.
int OpenRoot();

// A /proc root stays open while anything read below it is held: its
// snapshot, and each process pinned from it, which the wait reads again.
// The last release closes it.
void HoldRoot(int rootFd);
void ReleaseRoot(int rootFd);
const char* ProcRoot();

// Why the open root is no process list to read from, or null where it is
// one: an empty file system mounted in its place, or a folder of a proc file
// system (a process's task folder, say) mounted there. A tree a test
// fabricated is not checked.
const char* WhyNotProcRoot(int rootFd);

// Reads and parses PATH/status below the root (PATH a number, or "self");
// false when it cannot be read whole.
bool ReadStatus(int rootFd, const char* path, StatusFields* fields);

}  // namespace stopex::linux_backend
