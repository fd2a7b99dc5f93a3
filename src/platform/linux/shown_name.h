// How the Linux backend shows a name: as bytes, but never one a terminal
// would act on or not show, nor one that could be typed as another name.
#pragma once

namespace stopex {

// How the terminal reads the bytes of a name: as UTF-8, or as single bytes
// of another character set.
enum class NameCharset { Utf8, Other };

// The character set a locale's name gives ("en_US.UTF-8", "C.utf8": UTF-8);
// Other where it names another, or none ("C", "POSIX", "en_US", null or
// empty), so that a name is then shown with more "?", never with less.
NameCharset CharsetOfLocaleName(const char* name);

// The character set of this run's locale, named as the C library would take
// it (LC_ALL, LC_CTYPE, then LANG), looked up at the first call and kept for
// the rest of the run. No locale is loaded for it: only its name is read.
NameCharset LocaleCharset();

// Shows a terminated name in place as it may be written: each character a
// terminal acts on (C0 controls, DEL, the C1 controls in UTF-8 or as a byte
// of no UTF-8 character, and in another character set every byte 0x80 to
// 0x9F), each invisible format character in UTF-8 (U+200B to U+200F, U+202A
// to U+202E, U+2060 to U+2064, U+2066 to U+2069, U+FEFF), whatever the
// character set, and each "/" becomes one "?", which no target may hold.
// Letters stay as they are, in UTF-8 or single bytes.
void ShowAsName(char* text, NameCharset charset);

}  // namespace stopex
