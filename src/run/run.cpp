// The run driver, with list and test mode, the two modes that terminate
// nothing; kill mode is in kill_mode.cpp. The mode is looked up once, and
// the driver calls its three steps at fixed points of the one walk.
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
  if (!MatchImageName(CharUpperA(state.entry.szExeFile), state.targetName, IsDBCSLeadByte, state.pathRules)) return;
  if (state.runStatus == kExitSuccess) return;
  const ListedName listed = CompareListedName(kNullHandle, state.entry.th32ProcessID, state.entry.szExeFile);
  if (listed != ListedName::LookAlike) state.runStatus = kExitSuccess;
}

// Silenced, nothing is said at all, not even that a process may be hidden.
void TestReport(RunState& state) {
  if (state.options.silent != 0) return;
  const char* words = state.runStatus != kExitSuccess ? " wasn't running " : " was running ";
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
  if (state.runStatus == kExitSuccess) return;
  SayWhatWasNotRead(state);
  SayWhatMayBeHidden(state);
}

constexpr ModeSteps kListMode = {nullptr, ListEntry, ListReport};
constexpr ModeSteps kTestMode = {PrepareTargetName, TestEntry, TestReport};

const ModeSteps& StepsOf(RunMode mode) {
  switch (mode) {
    case RunMode::List: return kListMode;
    case RunMode::Test: return kTestMode;
    case RunMode::Kill: break;
  }
  return kKillMode;
}

// Names the first snapshot entry point that could not be bound, or null.
const char* MissingEntryPoint(const ProcessApi& api) {
  if (api.CreateToolhelp32Snapshot == nullptr) return "CreateToolhelp32Snapshot";
  if (api.Process32First == nullptr) return "Process32First";
  if (api.Process32Next == nullptr) return "Process32Next";
  return nullptr;
}

int Walk(RunState& state, const ModeSteps& mode) {
  const RunOptions& options = state.options;
  std::FILE* err = state.err;

  state.runStatus = kExitFailure;
  if (options.target == nullptr) {
    state.runStatus = kExitSuccess;
  } else if (mode.prepare != nullptr) {
    mode.prepare(state);
  }

  state.api = BindProcessApi();
  if (const char* missing = MissingEntryPoint(state.api)) {
    Say(err, missing, " not found in KERNEL32.DLL");
    return kExitFailure;
  }

  state.entry.dwSize = ProcessEntrySize();
  // A snapshot that could not be taken is said, and is no answer: no list,
  // no report of what is or is not running, status 1 in every mode.
  state.snapshot = state.api.CreateToolhelp32Snapshot(kSnapProcess, 0);
  if (state.snapshot == kInvalidHandleValue) {
    const std::uint32_t code = GetLastError();
    SayCannotList(err, code, DescribeLastError());
    return kExitFailure;
  }
  for (int more = state.api.Process32First(state.snapshot, &state.entry); more != 0;
       more = state.api.Process32Next(state.snapshot, &state.entry)) {
    mode.entry(state);
  }
  // A walk ends where no entry is left; one cut short, or one that could
  // not read every record it listed, is said by each mode as it answers.
  if (GetLastError() != kNoMoreEntries) {
    state.walkError = GetLastError();
    state.walkErrorText = DescribeLastError();
  }
  state.unread = DescribeUnreadProcesses();
  CloseHandle(state.snapshot);

  if (mode.afterWalk != nullptr) mode.afterWalk(state);
  FinishOutput(state);
  return state.runStatus;
}

}  // namespace

int Run(const RunOptions& options, std::FILE* out, std::FILE* err) {
  RunState state;
  state.options = options;
  state.out = out;
  state.err = err;
  const int status = Walk(state, StepsOf(SelectRunMode(options)));
  std::free(state.shownTarget);
  return status;
}

}  // namespace stopex
