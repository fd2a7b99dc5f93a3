// Target reduction: bounded, whole characters only, no separators left, and
// nothing but bytes of the argument in their order.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "match/target_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const stopex::LeadBytePredicate isLeadByte = CodePageFor(data[0]);
  std::string argument(reinterpret_cast<const char*>(data + 1), size - 1);
  argument.resize(std::strlen(argument.c_str()));
  const std::unique_ptr<char[]> text(new char[argument.size() + 1]);
  std::memcpy(text.get(), argument.c_str(), argument.size() + 1);

  char result[stopex::kTargetNameSize];
  const std::size_t length = stopex::ReduceTargetName(text.get(), isLeadByte, result);
  FUZZ_CHECK(length <= stopex::kTargetNameMax);
  FUZZ_CHECK(std::strlen(result) == length);

  // Walked by characters, the result ends on a whole one and holds no
  // separator outside a double-byte character.
  for (std::size_t i = 0; i < length;) {
    if (isLeadByte(static_cast<unsigned char>(result[i]))) {
      FUZZ_CHECK(i + 1 < length);
      i += 2;
      continue;
    }
    FUZZ_CHECK(result[i] != '\\' && result[i] != '/');
    ++i;
  }

  // A subsequence of the argument.
  std::size_t from = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const std::size_t at = argument.find(result[i], from);
    FUZZ_CHECK(at != std::string::npos);
    from = at + 1;
  }
  return 0;
}
