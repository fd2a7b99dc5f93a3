#include "run/run_options.h"

namespace stopex {

RunMode SelectRunMode(const RunOptions& options) {
  if (options.testSwitch != 0) return RunMode::Test;
  return options.target == nullptr ? RunMode::List : RunMode::Kill;
}

}  // namespace stopex
