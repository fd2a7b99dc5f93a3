// Upper-casing of the ASCII letters alone, for backends whose system has no
// code-page rules of its own: bytes 0x80 and above stay as they are.
#pragma once

namespace stopex {

// Upper-cases a NUL-terminated text in place and returns it.
char* AsciiUpper(char* text);

}  // namespace stopex
