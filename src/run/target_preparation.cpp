#include "run/target_preparation.h"

#include "match/target_name.h"
#include "platform/process_api.h"

namespace stopex {

void PrepareTargetName(RunState& state) {
  char reduced[kTargetNameSize];
  ReduceTargetName(state.options.target, IsDBCSLeadByte, reduced);
  lstrcpyA(state.targetName, reduced);
  CharUpperA(state.targetName);
}

}  // namespace stopex
