// Where the arguments of a raw command line begin: past its program-name
// token, by the one rule that the splitter and the Windows backend share.
#pragma once

#include <cstddef>

namespace stopex {

// Past the blanks and the program-name token at p: a quoted token runs to
// the next quote (which it takes), any other to the next blank or tab.
// length(p) is the number of units the character at p takes.
template <typename Char, typename Length>
const Char* SkipProgramName(const Char* p, Length length) {
  const auto blank = [](Char c) { return c == static_cast<Char>(' ') || c == static_cast<Char>('\t'); };
  constexpr auto quote = static_cast<Char>('"');
  while (blank(*p)) ++p;
  if (*p == quote) {
    ++p;
    while (*p != Char{} && *p != quote) p += length(p);
    if (*p == quote) ++p;
  } else {
    while (*p != Char{} && !blank(*p)) p += length(p);
  }
  return p;
}

}  // namespace stopex
