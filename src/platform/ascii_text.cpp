#include "platform/ascii_text.h"

namespace stopex {

char* AsciiUpper(char* text, bool (*isLeadByte)(unsigned char byte)) {
  for (char* p = text; *p != '\0'; ++p) {
    if (isLeadByte != nullptr && isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      ++p;  // the second byte may look like a lower-case letter: it is not one
    } else if (*p >= 'a' && *p <= 'z') {
      *p = static_cast<char>(*p - 'a' + 'A');
    }
  }
  return text;
}

}  // namespace stopex
