// The splitter of raw command lines, in single-byte and double-byte code pages.
#include "cli/split_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/process_fake.h"

namespace stopex {
namespace {

using Args = std::vector<std::string>;

bool NoLeadBytes(unsigned char) { return false; }

// The split into buffers sized exactly as the callers size them, so that a
// write past either one shows under the address sanitizer.
Args Split(const std::string& raw, LeadBytePredicate isLeadByte) {
  std::vector<char> storage(raw.size() + 1);
  std::vector<const char*> argv(ArgumentCapacity(raw.c_str()));
  const std::size_t count = SplitCommandLine(raw.c_str(), isLeadByte, storage.data(), argv.data());
  EXPECT_LE(count, argv.size());
  return Args(argv.begin(), argv.begin() + static_cast<std::ptrdiff_t>(count));
}

struct SplitCase {
  const char* raw;
  Args expected;
};

class SplitSingleByte : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitSingleByte, SplitsAsTheStartupRulesSay) {
  EXPECT_EQ(Split(GetParam().raw, NoLeadBytes), GetParam().expected) << GetParam().raw;
}

INSTANTIATE_TEST_SUITE_P(
    ProgramNameToken, SplitSingleByte,
    ::testing::Values(SplitCase{"", {}}, SplitCase{"stopex", {}},
                      SplitCase{"   \t stopex  x.exe", {"x.exe"}},
                      SplitCase{"\"C:\\Program Files\\stopex.exe\" -t x", {"-t", "x"}},
                      // Text touching the closing quote begins argument 1.
                      SplitCase{"\"stopex\"x.exe", {"x.exe"}},
                      // An unclosed quote swallows the whole line as the program name.
                      SplitCase{"\"stop ex x.exe", {}},
                      // A quote inside an unquoted token does not open a piece there.
                      SplitCase{"c:\\a\"b\" x", {"x"}}));

INSTANTIATE_TEST_SUITE_P(
    BlanksAndQuotes, SplitSingleByte,
    ::testing::Values(SplitCase{"p a b", {"a", "b"}}, SplitCase{"p\ta\t\tb\t", {"a", "b"}},
                      SplitCase{"p   a   ", {"a"}},
                      SplitCase{"p \"a b\"", {"a b"}},
                      SplitCase{"p \"a\tb\" c", {"a\tb", "c"}},
                      SplitCase{"p a\"b c\"d e", {"ab cd", "e"}},   // touching pieces form one argument
                      SplitCase{"p \"a\"\"b\"", {"ab"}},
                      SplitCase{"p \"unclosed piece", {"unclosed piece"}},
                      SplitCase{"p \"\"", {""}},                     // "" alone is an empty argument
                      SplitCase{"p \"\" x", {"", "x"}},
                      SplitCase{"p x \"", {"x", ""}},                // a lone trailing quote too
                      SplitCase{"p *.exe x?", {"*.exe", "x?"}}));   // no wildcard expansion

INSTANTIATE_TEST_SUITE_P(
    Backslashes, SplitSingleByte,
    ::testing::Values(SplitCase{"p a\\\"b", {"a\"b"}},                 // \" outside a piece
                      SplitCase{"p \"a\\\"b c\"", {"a\"b c"}},         // \" inside does not close it
                      SplitCase{"p \\\"a b", {"\"a", "b"}},            // and does not open one
                      SplitCase{"p C:\\dir\\x.exe", {"C:\\dir\\x.exe"}},
                      SplitCase{"p a\\\\\"b c\"", {"a\\\"b", "c"}},  // runs are not counted
                      SplitCase{"p \"C:\\dir\\\\\"", {"C:\\dir\\\""}},
                      SplitCase{"p x\\", {"x\\"}}));

TEST(SplitDoubleByte, LeadByteAndItsSecondByteStayTogether) {
  // 0x81 is a Shift-JIS lead byte; the byte after it is never a quote,
  // backslash or blank, whatever its value.
  const struct {
    const char* raw;
    Args expected;
  } cases[] = {
      {"p \x81\" x", {"\x81\"", "x"}},                  // second byte equal to a quote
      {"p \"\x81\" x\"", {"\x81\" x"}},                 // ... cannot close a piece
      {"p \x81\\\"a", {"\x81\\a"}},                     // second byte "\" does not escape
      {"p \x81 x", {"\x81 x"}},                         // second byte blank does not split
      {"p x\x81", {"x\x81"}},                           // a lone lead byte at the end stays
      {"\"pro\x81\"\" x", {"x"}},                       // applies to the program name too
      {"pro\x81 x y", {"y"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Split(c.raw, fake::IsShiftJisLeadByte), c.expected) << c.raw;
  }
  EXPECT_EQ(Split("p \x81\" x", NoLeadBytes), (Args{"\x81 x"}));
}

}  // namespace
}  // namespace stopex
