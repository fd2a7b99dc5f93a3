// Raw command line -> split -> parse. The first input byte picks the code
// page (single-byte, or simulated Shift-JIS); the rest is the command line.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/parse_command_line.h"
#include "cli/split_command_line.h"
#include "fuzz_check.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The arguments of a text without quotes, backslashes or lead bytes: its
// blank-separated words after the first.
std::vector<std::string> PlainSplit(const std::string& text) {
  std::vector<std::string> words;
  std::size_t p = 0;
  while (p < text.size()) {
    while (p < text.size() && IsBlank(text[p])) ++p;
    if (p == text.size()) break;
    const std::size_t start = p;
    while (p < text.size() && !IsBlank(text[p])) ++p;
    words.push_back(text.substr(start, p - start));
  }
  if (!words.empty()) words.erase(words.begin());
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const stopex::LeadBytePredicate isLeadByte = CodePageFor(data[0]);
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text.resize(std::strlen(text.c_str()));  // a command line ends at its terminator

  // Buffers of exactly the documented sizes, so that any overrun is caught.
  const std::unique_ptr<char[]> raw(new char[text.size() + 1]);
  std::memcpy(raw.get(), text.c_str(), text.size() + 1);
  const std::size_t capacity = stopex::ArgumentCapacity(raw.get());
  const std::unique_ptr<char[]> storage(new char[text.size() + 1]);
  const std::unique_ptr<const char*[]> args(new const char*[capacity + 1]);
  args[0] = "";
  const std::size_t count = stopex::SplitCommandLine(raw.get(), isLeadByte, storage.get(), args.get() + 1);
  FUZZ_CHECK(count <= capacity);

  bool plain = true;
  for (char c : text) {
    if (c == '"' || c == '\\' || isLeadByte(static_cast<unsigned char>(c))) plain = false;
  }
  if (plain) {
    const std::vector<std::string> expected = PlainSplit(text);
    FUZZ_CHECK(expected.size() == count);
    for (std::size_t i = 0; i < count; ++i) FUZZ_CHECK(expected[i] == args[i + 1]);
  }

  stopex::RunOptions options;
  const stopex::ParseResult result =
      stopex::ParseCommandLine(static_cast<int>(count + 1), args.get(), &options);
  bool question = false;
  for (std::size_t i = 1; i <= count; ++i) question = question || std::strchr(args[i], '?') != nullptr;
  if (question) FUZZ_CHECK(result == stopex::ParseResult::Usage);
  if (result == stopex::ParseResult::Ok) {
    FUZZ_CHECK(options.testSwitch == 0 || options.testSwitch == 1);
    FUZZ_CHECK(options.silent == 0 || options.silent == 1);
    bool found = options.target == nullptr;
    for (std::size_t i = 1; i <= count; ++i) found = found || options.target == args[i];
    FUZZ_CHECK(found);
  } else {
    FUZZ_CHECK(result == stopex::ParseResult::Usage);
  }
  return 0;
}
