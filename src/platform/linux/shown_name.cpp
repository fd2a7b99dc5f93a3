// How a name is shown: what a terminal would act on, what it would not show,
// and "/", as "?".
#include "platform/linux/shown_name.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>


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

// True for a UTF-8 character of the given length that a terminal shows as
// nothing, or that turns the text after it around: the zero-width spaces and
// joiners, the direction marks, embeddings, overrides and isolates, the word
// joiner and invisible operators, and the byte-order mark.
bool IsInvisibleFormat(const unsigned char* p, std::size_t length) {
  if (length != 3) return false;
  const unsigned code = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
  return (code >= 0x200B && code <= 0x200F) || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2060 && code <= 0x2064) || (code >= 0x2066 && code <= 0x2069) || code == 0xFEFF;
}

}  // namespace

NameCharset CharsetOfLocaleName(const char* name) {
  const char* codeset = name != nullptr ? std::strchr(name, '.') : nullptr;
  if (codeset == nullptr) return NameCharset::Other;
  // "UTF-8", "utf8", "Utf-8": the case and the hyphen are the writer's own.
  constexpr std::string_view kUtf8 = "utf8";
  std::size_t matched = 0;
  for (const char* c = codeset + 1; *c != '\0' && *c != '@'; ++c) {
    if (*c == '-') continue;
    const char lower = *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c;
    if (matched == kUtf8.size() || lower != kUtf8[matched]) return NameCharset::Other;
    ++matched;
  }
  return matched == kUtf8.size() ? NameCharset::Utf8 : NameCharset::Other;
}

NameCharset LocaleCharset() {
  // Read once, so that every name of the run is shown alike. Loading the
  // locale would read its files and take the C library's locks, each a call
  // that can fail; its name says what the terminal is told to expect.
  static const NameCharset charset = [] {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
      const char* name = std::getenv(variable);
      if (name != nullptr && *name != '\0') return CharsetOfLocaleName(name);
    }
    return NameCharset::Other;
  }();
  return charset;
}

// A terminal acts on C0 controls, DEL and the C1 controls: in UTF-8 U+0080
// to U+009F, or a byte 0x80 to 0x9F of no UTF-8 character; in any other
// character set every byte 0x80 to 0x9F (0x9B is CSI there). A "/" is never
// part of a file's name, so that a name holding one could be typed as
// another's. An invisible format character is shown as nothing, or turns
// what follows around, in every locale. Each is shown as one "?", which no
// target may hold.
void ShowAsName(char* text, NameCharset charset) {
  auto* from = reinterpret_cast<unsigned char*>(text);
  auto* to = from;
  while (*from != 0) {
    const std::size_t length = Utf8Length(from);
    const bool c1 = length == 2 && from[0] == 0xC2 && from[1] <= 0x9F;
    if (IsInvisibleFormat(from, length) || (c1 && charset == NameCharset::Utf8)) {
      *to++ = '?';
      from += length;
    } else if (length != 0 && charset == NameCharset::Utf8) {
      for (std::size_t i = 0; i < length; ++i) *to++ = *from++;
    } else {
      const unsigned char c = *from++;
      *to++ = c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == '/' ? '?' : c;
    }
  }
  *to = 0;
}

}  // namespace stopex
