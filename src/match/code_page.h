// The one fact about the ANSI code page that the text rules need, which
// bytes begin a double-byte character, and the one way to step through such
// a text. The predicate is passed as a function, so that the pure text
// operations can run with the system's code page or a simulated one.
#pragma once

#include <cstddef>

namespace stopex {

// True when the byte is the lead byte of a double-byte character.
using LeadBytePredicate = bool (*)(unsigned char byte);

// The length of the character at p: a lead byte takes the byte after it
// with it, so that byte is never read as a character of its own. A lead
// byte right before the terminator stands alone: a pair never swallows the
// end of the text.
inline std::size_t CharacterLength(const char* p, LeadBytePredicate isLeadByte) {
  return isLeadByte(static_cast<unsigned char>(p[0])) && p[1] != '\0' ? 2 : 1;
}

}  // namespace stopex
