#include "platform/linux/proc_parse.h"

#include <gtest/gtest.h>

#include <string>

namespace stopex {
namespace {

using namespace std::string_literals;

// A stat line with the given name and start time in field 22.
std::string StatLine(const std::string& name, const std::string& startTime) {
  return "1234 (" + name + ") S 1 1234 1234 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 " + startTime +
         " 2000000 300 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
}

TEST(ParseStatLine, FindsTheNameBetweenTheFirstOpenAndLastCloseParenthesis) {
  const std::string names[] = {"sleep", "", "a b", "a) b (c", ")", "((", "a\nb", "x) S 1 2 3 4 5", "\xff\xfe"};
  for (const std::string& name : names) {
    const std::string line = StatLine(name, "987654321");
    StatFields fields;
    ASSERT_TRUE(ParseStatLine(line, &fields)) << name;
    EXPECT_EQ(fields.name, name);
    EXPECT_EQ(fields.startTime, 987654321u) << name;
    EXPECT_EQ(fields.state, 'S') << name;
  }
}

TEST(ParseStatLine, RejectsWhatIsNotAStatLine) {
  const std::string lines[] = {
      "",
      "1234 sleep S 1",
      "1234 (sleep S 1 2 3",
      "1234 (sleep) S 1 1234 1234 0 -1",               // too few fields
      StatLine("sleep", "x12"),                         // start time not a number
      StatLine("sleep", "123456789012345678901"),       // more digits than fit
      "1234 )x( S 1 1234 1234 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 77 1",
  };
  for (const std::string& line : lines) {
    StatFields fields;
    EXPECT_FALSE(ParseStatLine(line, &fields)) << line;
  }
}

TEST(CompleteName, CompletesOnlyANameTheKernelCut) {
  const struct {
    std::string kernelName, cmdline, exe, expected;
  } cases[] = {
      {"sleep", "/bin/sleep\0" "100\0"s, "/usr/bin/sleep", "sleep"},
      {"averyveryverylo", "/tmp/averyveryverylongname\0-x\0"s, "", "averyveryverylongname"},
      {"averyveryverylo", "averyveryverylongname"s, "", "averyveryverylongname"},
      // argv[0] rewritten by the program: the executable's path serves.
      {"averyveryverylo", "worker: idle\0"s, "/opt/averyveryverylong-bin", "averyveryverylong-bin"},
      // Neither begins with the kernel's name: it stays as it is.
      {"averyveryverylo", "/bin/other\0"s, "/bin/other", "averyveryverylo"},
      {"exactlyfifteen!", "/bin/exactlyfifteen!\0"s, "/bin/exactlyfifteen!", "exactlyfifteen!"},
      {"averyveryverylo", ""s, "", "averyveryverylo"},  // a kernel thread has no argv
      // A shorter name is never completed, even when argv[0] is longer.
      {"short", "/bin/shorter\0"s, "/bin/shorter", "short"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompleteName(c.kernelName, c.cmdline, c.exe), c.expected) << c.cmdline;
  }
}

TEST(StoreImageName, KeepsBytesButShowsControlCharactersAsQuestionMarks) {
  char field[8];
  StoreImageName("a\nb\tc\x7f\xe9", field, sizeof field);
  EXPECT_STREQ(field, "a?b?c?\xe9");
  StoreImageName("0123456789", field, sizeof field);
  EXPECT_STREQ(field, "0123456");
  StoreImageName("", field, sizeof field);
  EXPECT_STREQ(field, "");
}

}  // namespace
}  // namespace stopex
