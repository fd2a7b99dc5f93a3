#include "platform/ascii_text.h"

namespace stopex {

char* AsciiUpper(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
  return text;
}

}  // namespace stopex
