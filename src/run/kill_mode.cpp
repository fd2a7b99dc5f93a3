// Kill mode: every match is opened right after its entry, checked to be the
// very process that was listed under that name (by the backend as it opens
// it, and here where the backend leaves the name to compare: see OpenProcess
// and CompareListedName), terminated and reported during the walk; after
// it, all of them are waited for together, and the program's own process,
// when it matched, is terminated last.
#include "run/kill_mode.h"

#include <cstdlib>
#include <cstring>

#include "platform/exit_status.h"
#include "platform/memory.h"
#include "platform/process_api.h"
#include "run/report.h"

namespace stopex {
namespace {

// How long, from the end of the walk, the processes terminated are waited for.
constexpr std::uint32_t kEndingMilliseconds = 5000;

void ReportFailure(RunState& state, const char* call) {
  // Read at once: nothing may run between the failed call and this.
  const std::uint32_t code = GetLastError();
  const char* why = DescribeLastError();
  Message message;
  Append(message, call);
  Append(message, "() failed, err = ");
  AppendNumber(message, code);
  Append(message, "\n");
  Print(state, message);
  // What the code does not say is said once, on standard error.
  if (why == nullptr || why == state.lastExplained) return;
  state.lastExplained = why;
  Say(state.err, why);
}

// A process whose own name the code page cannot hold exactly was listed
// under a look-alike of it: it is not the process asked for.
void PassOver(RunState& state, std::uint32_t processId) {
  Say(state.err, "process ", processId, " left alone: its name only resembles ", state.shownTarget);
}

// Opens and terminates one process, once it is known to be the very process
// that was listed under this name (unless that is known already: null). The
// handle of a process whose termination was started is handed back, still
// open; null otherwise.
Handle OpenAndTerminate(RunState& state, std::uint32_t processId, const char* listedName) {
  const Handle process = OpenProcess(kProcessTerminate, 0, processId);
  if (process == kNullHandle || process == kInvalidHandleValue) {
    ReportFailure(state, "OpenProcess");
    return kNullHandle;
  }
  switch (listedName == nullptr ? NameMatch::Exact : CompareListedName(process, processId, listedName)) {
    case NameMatch::Other:  // the id changed hands since the snapshot
      ReportFailure(state, "OpenProcess");
      CloseHandle(process);
      return kNullHandle;
    case NameMatch::LookAlike:
      PassOver(state, processId);
      CloseHandle(process);
      return kNullHandle;
    case NameMatch::Exact: break;
  }
  if (TerminateProcess(process, kTerminateExitCode) != 0) return process;
  ReportFailure(state, "TerminateProcess");
  CloseHandle(process);
  return kNullHandle;
}

// Keeps the handle of a terminated process until the walk is over.
void Keep(TerminatedProcesses& list, Handle process, const ProcessEntry& entry) {
  if (list.count == list.capacity) {
    list.capacity = Grown(list.capacity, 16);
    list.handles = static_cast<Handle*>(Resize(list.handles, list.capacity, sizeof(Handle)));
    list.ended = static_cast<bool*>(Resize(list.ended, list.capacity, sizeof(bool)));
    list.processes = static_cast<TerminatedProcess*>(Resize(list.processes, list.capacity, sizeof(TerminatedProcess)));
  }
  list.handles[list.count] = process;
  list.processes[list.count].processId = entry.th32ProcessID;
  std::memcpy(list.processes[list.count].imageName, entry.szExeFile, kExeFileSize);
  ++list.count;
}

}  // namespace

void PrepareKillMode(RunState& state) {
  PrepareTargetName(state);
  state.ownProcessId = GetCurrentProcessId();
}

void KillModeEntry(RunState& state) {
  if (!EntryMatches(state)) return;
  state.anyMatched = true;
  if (state.entry.th32ProcessID == state.ownProcessId) {
    // Its id cannot change hands while it runs: only its name is in question.
    if (CompareListedName(kNullHandle, state.ownProcessId, state.entry.szExeFile) == NameMatch::LookAlike) {
      PassOver(state, state.ownProcessId);
    } else {
      state.ownProcessMatched = true;
    }
    return;
  }
  const Handle process = OpenAndTerminate(state, state.entry.th32ProcessID, state.entry.szExeFile);
  if (process == kNullHandle) return;
  Message message;
  Append(message, state.entry.szExeFile);
  Append(message, " Killed.");
  Print(state, message);
  state.runStatus = kExitSuccess;
  Keep(state.terminated, process, state.entry);
}

// Says what the walk could not read, waits for the processes terminated
// together, says which are still ending when the time is up, and closes
// every handle; then the program's own process, once everything reported
// so far has been written out.
void KillModeAfterWalk(RunState& state) {
  TerminatedProcesses& list = state.terminated;
  if (list.count != 0) WaitForProcesses(list.handles, list.count, kEndingMilliseconds, list.ended);
  for (std::size_t i = 0; i < list.count; ++i) {
    if (!list.ended[i]) {
      Say(state.err, list.processes[i].imageName, " (process ", list.processes[i].processId, ") is still ending");
    }
    CloseHandle(list.handles[i]);
  }
  // Once the wait is over: what it could not read is said with the walk's.
  if (list.count != 0) state.unread = DescribeUnreadProcesses();
  SayWhatWasNotRead(state);
  if (!state.anyMatched) SayWhatMayBeHidden(state);
  std::free(list.handles);
  std::free(list.ended);
  std::free(list.processes);
  list = TerminatedProcesses{};
  if (!state.ownProcessMatched) return;
  FinishOutput(state);
  // On a real system a successful termination of the own process does not
  // return; should it return all the same, the run ends as the terminated
  // process would have.
  const Handle own = OpenAndTerminate(state, state.ownProcessId, nullptr);  // its name was compared in the walk
  if (own == kNullHandle) return;
  CloseHandle(own);
  state.runStatus = kExitTerminatedItself;
}

}  // namespace stopex
