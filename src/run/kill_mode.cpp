#include "run/kill_mode.h"

#include "match/target_name.h"
#include "platform/process_api.h"
#include "run/target_preparation.h"

namespace stopex {
namespace {

void ReportFailure(RunState& state, const char* call) {
  // Read at once: nothing may run between the failed call and this.
  const unsigned long code = GetLastError();
  std::fprintf(state.out, "%s() failed, err = %lu\n", call, code);
}

// Opens and terminates one process; true when the termination was started.
bool Terminate(RunState& state, std::uint32_t processId) {
  const Handle process = OpenProcess(kProcessTerminate, 0, processId);
  if (process == kNullHandle || process == kInvalidHandleValue) {
    ReportFailure(state, "OpenProcess");
    return false;
  }
  const bool terminated = TerminateProcess(process, kTerminateExitCode) != 0;
  if (!terminated) ReportFailure(state, "TerminateProcess");
  CloseHandle(process);
  return terminated;
}

}  // namespace

void PrepareKillMode(RunState& state) {
  PrepareTargetName(state);
  state.ownProcessId = GetCurrentProcessId();
}

void KillModeEntry(RunState& state) {
  if (!MatchImageName(CharUpperA(state.entry.szExeFile), state.targetName, IsDBCSLeadByte)) return;
  if (state.entry.th32ProcessID == state.ownProcessId) {
    state.ownProcessMatched = true;
    return;
  }
  if (Terminate(state, state.entry.th32ProcessID)) {
    std::fprintf(state.out, "%s Killed.", state.entry.szExeFile);
    state.runStatus = 0;
  }
}

void KillModeAfterWalk(RunState& state) {
  if (!state.ownProcessMatched) return;
  std::fflush(state.out);
  // On a real system a successful termination of the own process does not
  // return; should it return all the same, the run ends as the terminated
  // process would have.
  if (Terminate(state, state.ownProcessId)) state.runStatus = static_cast<int>(kTerminateExitCode);
}

}  // namespace stopex
