// Upper-casing for systems whose names have no code-page rules of their own:
// the Linux backend's and the scripted one the tests run against.
#pragma once

namespace stopex {

// Upper-cases the ASCII letters of a text in place and returns it: bytes
// 0x80 and above stay as they are, and so does every double-byte character,
// a lead byte taking the byte after it with it (unless that ends the text).
inline char* UpperCaseAscii(char* text, bool (*isLeadByte)(unsigned char byte)) {
  for (char* p = text; *p != '\0'; ++p) {
    if (isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      ++p;
    } else if (*p >= 'a' && *p <= 'z') {
      *p = static_cast<char>(*p - 'a' + 'A');
    }
  }
  return text;
}

}  // namespace stopex
