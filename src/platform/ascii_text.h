// Upper-casing of the ASCII letters alone, for backends whose system has no
// code-page rules of its own: bytes 0x80 and above stay as they are, and so
// does every double-byte character.
#pragma once

namespace stopex {

// Upper-cases a NUL-terminated text in place and returns it. With a lead-byte
// test, a lead byte and the byte after it are left alone, whatever they are.
char* AsciiUpper(char* text, bool (*isLeadByte)(unsigned char byte) = nullptr);

}  // namespace stopex
