#include "run/run.h"

#include "run/kill_mode.h"
#include "run/list_mode.h"
#include "run/report.h"
#include "run/run_state.h"
#include "run/test_mode.h"

namespace stopex {
namespace {

// Names the first snapshot entry point that could not be bound, or null.
const char* MissingEntryPoint(const ProcessApi& api) {
  if (api.CreateToolhelp32Snapshot == nullptr) return "CreateToolhelp32Snapshot";
  if (api.Process32First == nullptr) return "Process32First";
  if (api.Process32Next == nullptr) return "Process32Next";
  return nullptr;
}

void HandleEntry(RunState& state) {
  if (state.mode == RunMode::Test) {
    TestModeEntry(state);
  } else if (state.mode == RunMode::List) {
    ListModeEntry(state);
  } else {
    KillModeEntry(state);
  }
}

}  // namespace

int Run(const RunOptions& options, std::FILE* out, std::FILE* err) {
  RunState state;
  state.options = options;
  state.mode = SelectRunMode(options);
  state.out = out;
  state.err = err;

  state.runStatus = 1;
  if (options.target != nullptr) {
    if (state.mode == RunMode::Kill) {
      PrepareKillMode(state);
    } else {
      PrepareTestMode(state);
    }
  } else {
    state.runStatus = 0;
  }

  state.api = BindProcessApi();
  if (const char* missing = MissingEntryPoint(state.api)) {
    Message message;
    Append(message, "stopex: ");
    Append(message, missing);
    Append(message, " not found in KERNEL32.DLL\n");
    Write(message, err);
    return 1;
  }

  state.entry.dwSize = ProcessEntrySize();
  // A failed snapshot is INVALID_HANDLE_VALUE, on which Process32First fails:
  // the walk then simply yields no entry, and there is no handle to close.
  state.snapshot = state.api.CreateToolhelp32Snapshot(kSnapProcess, 0);
  for (int more = state.api.Process32First(state.snapshot, &state.entry); more != 0;
       more = state.api.Process32Next(state.snapshot, &state.entry)) {
    HandleEntry(state);
  }
  if (state.snapshot != kInvalidHandleValue) CloseHandle(state.snapshot);

  if (state.mode == RunMode::Test) {
    TestModeReport(state);
  } else if (state.mode == RunMode::Kill) {
    KillModeAfterWalk(state);
  }
  return state.runStatus;
}

}  // namespace stopex
