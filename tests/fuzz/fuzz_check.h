// What the fuzz targets share: a check that holds in every run or stops the
// run with the reason, and the choice of code page by an input byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fake/process_fake.h"
#include "match/code_page.h"

// An odd selector byte simulates a double-byte code page (Shift-JIS), an even
// one a single-byte code page.
inline stopex::LeadBytePredicate CodePageFor(std::uint8_t selector) {
  if ((selector & 1) != 0) return stopex::fake::IsShiftJisLeadByte;
  return [](unsigned char) { return false; };
}

#define FUZZ_CHECK(condition)                                                   \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                             \
    }                                                                           \
  } while (0)
