// The one fact about the ANSI code page that the text rules need: which bytes
// begin a double-byte character. Passed as a function, so that the pure text
// operations can run with the system's code page or a simulated one.
#pragma once

namespace stopex {

// True when the byte is the lead byte of a double-byte character.
using LeadBytePredicate = bool (*)(unsigned char byte);

}  // namespace stopex
