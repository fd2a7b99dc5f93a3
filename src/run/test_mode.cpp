#include "run/test_mode.h"

#include "match/target_name.h"
#include "platform/process_api.h"
#include "run/report.h"
#include "run/target_preparation.h"

namespace stopex {

void PrepareTestMode(RunState& state) { PrepareTargetName(state); }

void TestModeEntry(RunState& state) {
  // The walk goes on after a hit: every mode sees the whole snapshot. A
  // process listed under a look-alike of its own name is not the one asked
  // for; the names of further matches need not be looked at once one counts.
  if (!MatchImageName(CharUpperA(state.entry.szExeFile), state.targetName, IsDBCSLeadByte)) return;
  if (state.runStatus == 0) return;
  const std::uint32_t processId = state.entry.th32ProcessID;
  if (CompareListedName(kNullHandle, processId, state.entry.szExeFile) != ListedName::LookAlike) state.runStatus = 0;
}

void TestModeReport(RunState& state) {
  if (state.options.silent != 0) return;
  Message message;
  Append(message, state.targetName);
  Append(message, state.runStatus != 0 ? " wasn't running " : " was running ");
  Write(message, state.out);
}

}  // namespace stopex
