// How a name is shown: what a terminal would act on, and "/", as "?".
#include "platform/linux/shown_name.h"

#include <cstddef>

namespace stopex {
namespace {

// The length of the UTF-8 character at p (2 to 4 bytes), or 0 where none
// begins there: no overlong form, no surrogate, nothing past U+10FFFF.
std::size_t Utf8Length(const unsigned char* p) {
  const unsigned char lead = p[0];
  std::size_t length = 0;
  unsigned char low = 0x80;  // the bounds of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (p[i] < (i == 1 ? low : 0x80) || p[i] > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

}  // namespace

// A terminal acts on C0 controls, DEL and the C1 controls (U+0080 to U+009F
// in UTF-8, or a byte 0x80 to 0x9F of no UTF-8 character); a "/" is never
// part of a file's name, so that a name holding one could be typed as
// another's. Each is shown as one "?", which no target may hold.
void ShowAsName(char* text) {
  auto* from = reinterpret_cast<unsigned char*>(text);
  auto* to = from;
  while (*from != 0) {
    const std::size_t length = Utf8Length(from);
    if (length == 2 && from[0] == 0xC2 && from[1] <= 0x9F) {
      *to++ = '?';
      from += 2;
    } else if (length != 0) {
      for (std::size_t i = 0; i < length; ++i) *to++ = *from++;
    } else {
      const unsigned char c = *from++;
      *to++ = c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == '/' ? '?' : c;
    }
  }
  *to = 0;
}

}  // namespace stopex
