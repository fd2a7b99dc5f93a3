// The platform interface: every operating-system operation the program uses.
// The logic calls only these; exactly one backend (Windows, Linux or the test
// fake) is linked into each executable and defines every one of them. What is
// said here holds for every backend; where Windows and Linux differ, a line
// each says how.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stopex {

// Opaque operating-system handle. Null and all-bits-set (INVALID_HANDLE_VALUE)
// are the two failure values callers test for. The constants carry k-names so
// that they never clash with the system headers' macros in the backends.
using Handle = std::uintptr_t;
inline constexpr Handle kNullHandle = 0;
inline constexpr Handle kInvalidHandleValue = ~static_cast<Handle>(0);

inline constexpr std::uint32_t kSnapProcess = 2;  // TH32CS_SNAPPROCESS
inline constexpr std::uint32_t kProcessTerminate = 1;  // PROCESS_TERMINATE
// The last error of the walk's call that found no entry left
// (ERROR_NO_MORE_FILES); any other says the walk was cut short.
inline constexpr std::uint32_t kNoMoreEntries = 18;
// Exit code given to a terminated process: all bits set, -1 as a signed value.
inline constexpr std::uint32_t kTerminateExitCode = 0xFFFFFFFFu;

// Room for an image name: at most 259 bytes plus the terminator.
inline constexpr std::size_t kExeFileSize = 260;

// The process-entry record the walk refills. Only the fields the program
// reads are carried; the backend translates to and from its native record.
struct ProcessEntry {
  std::uint32_t dwSize = 0;         // set to ProcessEntrySize() before the first call
  std::uint32_t th32ProcessID = 0;  // process identifier, passed to OpenProcess
  char szExeFile[kExeFileSize] = {};  // image name, always NUL-terminated
};

// The three snapshot entry points after binding; a member is null when its
// binding yielded nothing, and must then not be called. One snapshot is open
// at a time; Process32First and Process32Next hand out its entries one by
// one, and give 0 at its end.
struct ProcessApi {
  Handle (*CreateToolhelp32Snapshot)(std::uint32_t flags, std::uint32_t processId) = nullptr;
  int (*Process32First)(Handle snapshot, ProcessEntry* entry) = nullptr;
  int (*Process32Next)(Handle snapshot, ProcessEntry* entry) = nullptr;
};

// The process's raw command line in the ANSI code page, or null where the
// system hands over an already split argument vector instead (then argv is
// used as given). To be read only once CommandLineIsExact has said true:
// - Windows: the system keeps the line in Unicode. The arguments are
//   rendered exactly, behind an empty quoted program-name token, which the
//   splitter skips; where they cannot be, the system's own best-fit line,
//   which may hold look-alikes, is handed back and CommandLineIsExact is false.
// - Linux: always null.
const char* GetCommandLineA();

// False when an argument on the command line holds a character that the ANSI
// code page cannot hold exactly: its single-byte form is only a look-alike
// (or the default character), and must not be acted on.
bool CommandLineIsExact();

// The number of the active ANSI code page, for messages; 0 where texts are
// plain bytes (Linux).
std::uint32_t GetACP();

// True where "/" introduces switches as "-" does: on Windows, where scripts
// write switches so and paths with "\". False on Linux, where every absolute
// path begins with "/": there an argument so begun is a target.
bool SlashIntroducesSwitches();

// True where a test switch (-t, -ts) with no target is a command-line error.
// On Linux, where a script's unquoted empty variable ("stopex $name -ts")
// leaves out the target unseen, and a test that always succeeded would never
// end the loop that waits on it. False on Windows, where such a test succeeds
// with status 0, and batch files may rely on that.
bool TestSwitchNeedsTarget();

// True where paths are written as on Windows: "\" ends a folder as "/"
// does, "C:" names a drive, and the process list may give full paths. False
// on Linux, where a process's name is a bare name, and any "\" or ":" in it
// is a character like any other.
bool WindowsPaths();

// True when the byte is the lead byte of a double-byte character in the
// active ANSI code page.
bool IsDBCSLeadByte(unsigned char byte);

// True when standard output is a console or another character device.
bool StandardOutputIsCharacterDevice();

// Binds the snapshot entry points.
// - Windows: by name, at run time, from KERNEL32.DLL; a name not found there
//   leaves its member null.
// - Linux: the backend's own functions, all three always.
ProcessApi BindProcessApi();

// The value the caller stores in ProcessEntry::dwSize before the first call.
std::uint32_t ProcessEntrySize();

// The program's own id, numbered as the snapshot numbers its entries.
// - Linux: the number /proc lists for the program, which is not getpid()
//   where /proc is of another PID namespace.
std::uint32_t GetCurrentProcessId();

// Opens a process for termination; null on failure (see GetLastError).
// Every caller may rely on this much, and on no more: it may be given
// - the id of the entry the walk handed out last, while its snapshot is
//   still open (kill mode opens each match right after its entry), or
// - the program's own id (GetCurrentProcessId), at any time.
// A backend may refuse any other id with error 87 (Linux and the test fake
// do). Error 87 also says that the process has gone, or that its id now
// stands for another process than was listed, or (Linux) that it has
// renamed itself since it was listed.
// - Windows: opens any process by id at any time; the handle pins it, and
//   CompareListedName then tells whether it is still the process listed.
// - Linux: opens a process only once the backend has confirmed it to be the
//   very process listed, pinned by its process descriptor where there is
//   one, and read a last time; CompareListedName has nothing left to check.
Handle OpenProcess(std::uint32_t desiredAccess, int inheritHandle, std::uint32_t processId);

// Starts the termination; nonzero on success, zero on failure. Terminating the
// program's own process does not return on a real system. Error 5 says that
// the caller may not end the process, or that it has ended, or begun to,
// since it was opened: no signal would reach it. Error 87 says that it is
// gone altogether (Linux: collected by its parent since it was opened).
int TerminateProcess(Handle process, std::uint32_t exitCode);

int CloseHandle(Handle handle);

// Waits until every process behind the handles, each opened by OpenProcess
// and terminated, has ended, or until the milliseconds, counted from the
// call, have passed, whichever comes first. Sets ended[i] for each: false
// only for a process that is still ending when the time is up. A process that
// cannot be waited for counts as ended.
// - Windows: in groups of 64 (what one wait takes), one group after another,
//   all within the one time.
// - Linux: all together.
void WaitForProcesses(const Handle* processes, std::size_t count, std::uint32_t milliseconds,
                      bool* ended);

// What the name a snapshot entry listed is to the process behind it.
enum class NameMatch {
  Exact,     // the process's own name, or all that can be learned of it
  LookAlike, // only a rendering of the process's own name, which holds
             // characters the ANSI code page cannot hold exactly
  Other,     // the id now belongs to another process (last error 87)
};

// Compares the listed name of a snapshot entry with the name the system
// holds for the process, as exactly as the system can tell. With a handle
// from OpenProcess, which pins the id, the process behind the handle is
// asked; with the null handle, the process with that id. Where the true
// name cannot be learned, the listed name stands: Exact.
// - Linux: always Exact; OpenProcess has made sure of the name already.
NameMatch CompareListedName(Handle process, std::uint32_t processId, const char* listedName);

// The last error code of the calling thread, read right after a failed call.
std::uint32_t GetLastError();

// What the last error code does not say by itself, in a few words (why a
// process list could not be read, why processes cannot be told apart); null
// where the code says all. Read right after the failed call, like the code.
const char* DescribeLastError();

// Why the process list may leave out processes that run, in a few words
// (this user may not see other users' processes, or whether it may cannot
// be learned); null where it shows them all to this user.
const char* DescribeHiddenProcesses();

// What the last walk, and the wait after it, could not read, in a few words
// ("N processes could not be read: REASON"), or null where it read every
// process it listed. A process the wait counts so was not seen to end.
// A process left out so is not known not to run. Processes the system
// hides by design (see DescribeHiddenProcesses) are not counted.
const char* DescribeUnreadProcesses();

// Makes a NUL-terminated name fit to be shown, in place, and returns it:
// every character a terminal would act on rather than show, or would show
// as nothing, becomes "?", which no target may hold, so that a name is
// always one line, never a command, and never shown as a name it is not.
// What a terminal acts on may depend on the locale's character set: it is
// looked up once, and every name of the run is shown alike. Where names are
// texts of the ANSI code page (Windows), which no file name fills with
// controls, it is left as it is.
char* ShowableName(char* text);

// Upper-cases a NUL-terminated text in place and returns it.
char* CharUpperA(char* text);

// Copies a NUL-terminated text with its terminator; returns the destination.
char* lstrcpyA(char* destination, const char* source);

}  // namespace stopex
