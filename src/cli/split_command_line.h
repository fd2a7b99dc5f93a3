// Splits a raw single-byte command line into arguments, the way the program's
// own startup code does on systems that hand over the command line unsplit.
#pragma once

#include <string>
#include <vector>

#include "process/process_api.h"

namespace stopex {

// Returns the arguments after the program-name token, in order. Bytes are
// kept as they are; a lead byte and the byte after it are always taken together.
std::vector<std::string> SplitCommandLine(const char* raw, LeadBytePredicate isLeadByte);

}  // namespace stopex
