// Splits a raw single-byte command line into arguments, the way the program's
// own startup code does on systems that hand over the command line unsplit.
#pragma once

#include <cstddef>

#include "match/code_page.h"

namespace stopex {

// How many argument pointers SplitCommandLine may need for this text.
std::size_t ArgumentCapacity(const char* raw);

// Splits the arguments after the program-name token, in order, into storage
// (room for strlen(raw) + 1 bytes: no argument is longer than the text it
// came from, and each one needs at most one terminator) and points argv
// (room for ArgumentCapacity(raw) pointers) at them. Bytes are kept as they
// are; a lead byte and the byte after it are always taken together. Returns
// the number of arguments.
std::size_t SplitCommandLine(const char* raw, LeadBytePredicate isLeadByte, char* storage,
                             const char** argv);

}  // namespace stopex
