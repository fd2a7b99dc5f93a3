#include "run/test_mode.h"

#include "match/target_name.h"
#include "platform/process_api.h"
#include "run/report.h"
#include "run/target_preparation.h"

namespace stopex {

void PrepareTestMode(RunState& state) { PrepareTargetName(state); }

void TestModeEntry(RunState& state) {
  // The walk goes on after a hit: every mode sees the whole snapshot.
  if (MatchImageName(CharUpperA(state.entry.szExeFile), state.targetName, IsDBCSLeadByte)) state.runStatus = 0;
}

void TestModeReport(RunState& state) {
  if (state.options.silent != 0) return;
  Message message;
  Append(message, state.targetName);
  Append(message, state.runStatus != 0 ? " wasn't running " : " was running ");
  Write(message, state.out);
}

}  // namespace stopex
