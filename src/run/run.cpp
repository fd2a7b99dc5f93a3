// The run driver, with list and test mode, the two modes that terminate
// nothing; kill mode is in kill_mode.cpp. The driver calls the mode's steps
// at three fixed points of the one walk: before the snapshot is taken, for
// every entry, and once the snapshot is closed.
#include "run/run.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "match/target_name.h"
#include "platform/exit_status.h"
#include "platform/memory.h"
#include "platform/process_api.h"
#include "run/kill_mode.h"
#include "run/report.h"
#include "run/run_state.h"

namespace stopex {

void PrepareTargetName(RunState& state) {
  char reduced[kTargetNameSize];
  state.pathRules = WindowsPaths() ? PathRules::Windows : PathRules::Posix;
  const char* target = state.options.target;
  const std::size_t length = ReduceTargetName(target, IsDBCSLeadByte, reduced, state.pathRules);
  lstrcpyA(state.targetName, reduced);
  CharUpperA(state.targetName);
  // Reports show the name whole, even where it is longer than any that
  // matches, and never a character a terminal would act on.
  const char* whole = length > kTargetNameMax ? target + std::strlen(target) - length : state.targetName;
  const std::size_t size = std::strlen(whole) + 1;
  state.shownTarget = static_cast<char*>(Resize(nullptr, size, 1));
  std::memcpy(state.shownTarget, whole, size);
  ShowableName(CharUpperA(state.shownTarget));
}

bool EntryMatches(RunState& state) {
  return MatchImageName(CharUpperA(state.entry.szExeFile), state.targetName, IsDBCSLeadByte, state.pathRules);
}

void Print(RunState& state, const char* text, std::size_t length) {
  if (std::fwrite(text, 1, length, state.out) != length && state.outputError == 0) {
    state.outputError = errno != 0 ? errno : EIO;
  }
}

void Print(RunState& state, const Message& message) { Print(state, message.text, message.length); }

void FinishOutput(RunState& state) {
  if (state.outputFinished) return;
  state.outputFinished = true;
  if (std::fflush(state.out) != 0 && state.outputError == 0) state.outputError = errno != 0 ? errno : EIO;
  if (state.outputError == 0) return;
  Say(state.err, "cannot write standard output: ", std::strerror(state.outputError));
  if (SelectRunMode(state.options) == RunMode::List) state.runStatus = kExitFailure;
}

void SayWhatMayBeHidden(RunState& state) {
  if (const char* why = DescribeHiddenProcesses()) Say(state.err, why);
}

namespace {

// A process list that could not be read, or not to its end.
void SayCannotList(std::FILE* err, std::uint32_t code, const char* why) {
  if (why != nullptr) {
    Say(err, "cannot list the processes: ", why);
  } else {
    Say(err, "cannot list the processes: error ", code);
  }
}

}  // namespace

bool SayWhatWasNotRead(RunState& state) {
  if (state.walkError != 0) {
    SayCannotList(state.err, state.walkError, state.walkErrorText);
  } else if (state.unread != nullptr) {
    Say(state.err, state.unread);
  } else {
    return false;
  }
  state.walkError = 0;
  state.unread = nullptr;
  return true;
}

namespace {

// List mode: every image name as delivered, one per line, one write per line
// (on an unbuffered device each write is a system call).
void ListEntry(RunState& state) {
  Message line;
  Append(line, state.entry.szExeFile);
  Append(line, "\n");
  Print(state, line);
}

// A list that misses processes is no answer, though it is given.
void ListReport(RunState& state) {
  if (SayWhatWasNotRead(state)) state.runStatus = kExitFailure;
}

// Test mode. The walk goes on after a hit: every mode sees the whole
// snapshot. A process listed under a look-alike of its own name is not the
// one asked for; once one match counts, the names of others need no look.
void TestEntry(RunState& state) {
  if (!EntryMatches(state)) return;
  if (state.runStatus == kExitSuccess) return;
  const NameMatch listed = CompareListedName(kNullHandle, state.entry.th32ProcessID, state.entry.szExeFile);
  if (listed != NameMatch::LookAlike) state.runStatus = kExitSuccess;
}

// Silenced, the report is not printed, nor that a process may be hidden; a
// failure to read is said all the same, as a snapshot that cannot be taken
// is: status 1 then means "could not tell", never "not running" alone.
void TestReport(RunState& state) {
  const bool running = state.runStatus == kExitSuccess;
  if (state.options.silent == 0) {
    const char* words = running ? " was running " : " wasn't running ";
    const char* shown = state.shownTarget != nullptr ? state.shownTarget : "";  // none without a target
    const std::size_t length = std::strlen(shown);
    Message message;
    if (length + std::strlen(words) > sizeof message.text) {
      Print(state, shown, length);  // too long for one message: the name goes first
    } else {
      Append(message, shown);
    }
    Append(message, words);
    Print(state, message);
  }
  if (running) return;
  SayWhatWasNotRead(state);
  if (state.options.silent == 0) SayWhatMayBeHidden(state);
}

// Before the snapshot is taken, when a target was given.
void PrepareMode(RunState& state, RunMode mode) {
  switch (mode) {
    case RunMode::List: return;
    case RunMode::Test: PrepareTargetName(state); return;
    case RunMode::Kill: PrepareKillMode(state); return;
  }
}

// For every snapshot entry, in order, right after the walk handed it out.
void TakeEntry(RunState& state, RunMode mode) {
  switch (mode) {
    case RunMode::List: ListEntry(state); return;
    case RunMode::Test: TestEntry(state); return;
    case RunMode::Kill: KillModeEntry(state); return;
  }
}

// Once the snapshot is closed.
void AfterWalk(RunState& state, RunMode mode) {
  switch (mode) {
    case RunMode::List: ListReport(state); return;
    case RunMode::Test: TestReport(state); return;
    case RunMode::Kill: KillModeAfterWalk(state); return;
  }
}

// Names the first snapshot entry point that could not be bound, or null.
const char* MissingEntryPoint(const ProcessApi& api) {
  if (api.CreateToolhelp32Snapshot == nullptr) return "CreateToolhelp32Snapshot";
  if (api.Process32First == nullptr) return "Process32First";
  if (api.Process32Next == nullptr) return "Process32Next";
  return nullptr;
}

// Binds the snapshot entry points and takes the snapshot. Where either
// fails, says so on standard error and gives INVALID_HANDLE_VALUE: a
// snapshot that could not be taken is no answer, with no list and no report
// of what is or is not running, and status 1 in every mode.
Handle TakeSnapshot(RunState& state, ProcessApi* api) {
  *api = BindProcessApi();
  if (const char* missing = MissingEntryPoint(*api)) {
    Say(state.err, missing, " not found in KERNEL32.DLL");
    return kInvalidHandleValue;
  }
  state.entry.dwSize = ProcessEntrySize();
  const Handle snapshot = api->CreateToolhelp32Snapshot(kSnapProcess, 0);
  if (snapshot == kInvalidHandleValue) {
    const std::uint32_t code = GetLastError();
    SayCannotList(state.err, code, DescribeLastError());
  }
  return snapshot;
}

int Walk(RunState& state, RunMode mode) {
  state.runStatus = kExitFailure;
  if (state.options.target == nullptr) {
    state.runStatus = kExitSuccess;
  } else {
    PrepareMode(state, mode);
  }
  ProcessApi api;
  const Handle snapshot = TakeSnapshot(state, &api);
  if (snapshot == kInvalidHandleValue) return kExitFailure;
  for (int more = api.Process32First(snapshot, &state.entry); more != 0;
       more = api.Process32Next(snapshot, &state.entry)) {
    TakeEntry(state, mode);
  }
  // A walk ends where no entry is left; one cut short, or one that could
  // not read every record it listed, is said by each mode as it answers.
  if (GetLastError() != kNoMoreEntries) {
    state.walkError = GetLastError();
    state.walkErrorText = DescribeLastError();
  }
  state.unread = DescribeUnreadProcesses();
  CloseHandle(snapshot);
  AfterWalk(state, mode);
  FinishOutput(state);
  return state.runStatus;
}

}  // namespace

int Run(const RunOptions& options, std::FILE* out, std::FILE* err) {
  RunState state;
  state.options = options;
  state.out = out;
  state.err = err;
  const int status = Walk(state, SelectRunMode(options));
  std::free(state.shownTarget);
  return status;
}

}  // namespace stopex
