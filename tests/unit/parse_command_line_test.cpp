#include "cli/parse_command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/usage.h"
#include "fake/process_fake.h"

namespace stopex {
namespace {

struct Parsed {
  ParseResult result;
  RunOptions options;
};

// The rules of the switch character a row holds under: Windows's, where "/"
// introduces switches too, Linux's, where only "-" does, or both.
enum Rules { kWindows = 1, kLinux = 2, kBoth = kWindows | kLinux };

// Each rule a row holds under, set in the fake in turn.
std::vector<bool> SlashRules(int rules) {
  std::vector<bool> slash;
  if ((rules & kWindows) != 0) slash.push_back(true);
  if ((rules & kLinux) != 0) slash.push_back(false);
  return slash;
}

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "ignored-program-path");
  Parsed parsed{};
  parsed.result = ParseCommandLine(static_cast<int>(args.size()), args.data(), &parsed.options);
  return parsed;
}

struct OptionsCase {
  std::vector<const char*> args;
  const char* target;  // null: absent
  int testSwitch;
  int silent;
  RunMode mode;
  int rules = kBoth;
};

class ParsesOptions : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ParsesOptions, IntoTheRecordAndMode) {
  const OptionsCase& c = GetParam();
  for (const bool slash : SlashRules(c.rules)) {
    SCOPED_TRACE(slash ? "'/' introduces switches" : "only '-' introduces switches");
    fake::System().slashSwitches = slash;
    const Parsed parsed = Parse(c.args);
    ASSERT_EQ(parsed.result, ParseResult::Ok);
    if (c.target == nullptr) {
      EXPECT_EQ(parsed.options.target, nullptr);
    } else {
      ASSERT_NE(parsed.options.target, nullptr);
      EXPECT_STREQ(parsed.options.target, c.target);
    }
    EXPECT_EQ(parsed.options.testSwitch, c.testSwitch);
    EXPECT_EQ(parsed.options.silent, c.silent);
    EXPECT_EQ(SelectRunMode(parsed.options), c.mode);
  }
  fake::Reset();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParsesOptions,
    ::testing::Values(
        OptionsCase{{}, nullptr, 0, 0, RunMode::List},
        OptionsCase{{"-"}, nullptr, 0, 0, RunMode::List},
        OptionsCase{{"/"}, nullptr, 0, 0, RunMode::List, kWindows},
        OptionsCase{{"x.exe"}, "x.exe", 0, 0, RunMode::Kill},
        OptionsCase{{"x.exe", "-t"}, "x.exe", 1, 0, RunMode::Test},
        OptionsCase{{"-t", "x.exe"}, "x.exe", 1, 0, RunMode::Test},
        OptionsCase{{"/t", "x.exe"}, "x.exe", 1, 0, RunMode::Test, kWindows},
        OptionsCase{{"-tx", "x.exe"}, "x.exe", 1, 0, RunMode::Test},
        OptionsCase{{"-ts", "x.exe"}, "x.exe", 1, 1, RunMode::Test},
        OptionsCase{{"-ts-", "x.exe"}, "x.exe", 1, 1, RunMode::Test},   // fourth character ignored
        OptionsCase{{"-t-", "x.exe"}, "x.exe", 0, 0, RunMode::Kill},
        OptionsCase{{"-t-s", "x.exe"}, "x.exe", 0, 0, RunMode::Kill},
        OptionsCase{{"-t", "x.exe", "-t-"}, "x.exe", 0, 0, RunMode::Kill},  // the last -t decides
        OptionsCase{{"-ts", "-t-", "x.exe"}, "x.exe", 0, 1, RunMode::Kill}, // silent stays set
        OptionsCase{{"-t-", "-t"}, nullptr, 1, 0, RunMode::Test},         // test without a target
        OptionsCase{{"-ts"}, nullptr, 1, 1, RunMode::Test},
        OptionsCase{{""}, "", 0, 0, RunMode::Kill},                        // an empty argument is a target
        OptionsCase{{"/", "-x"}, "-x", 0, 0, RunMode::Kill, kWindows},     // '/' makes '-' ordinary
        OptionsCase{{"/t", "-t"}, "-t", 1, 0, RunMode::Test, kWindows},
        OptionsCase{{"-", "x"}, "x", 0, 0, RunMode::Kill},
        OptionsCase{{"/tzzz", "c:\\w\\a.exe"}, "c:\\w\\a.exe", 1, 0, RunMode::Test, kWindows},
        // On Linux an argument that begins with '/' is a path: a target.
        OptionsCase{{"/usr/sbin/nginx"}, "/usr/sbin/nginx", 0, 0, RunMode::Kill, kLinux},
        OptionsCase{{"/tmp/worker/run", "-t"}, "/tmp/worker/run", 1, 0, RunMode::Test, kLinux},
        OptionsCase{{"-ts", "/t"}, "/t", 1, 1, RunMode::Test, kLinux},
        OptionsCase{{"/"}, "/", 0, 0, RunMode::Kill, kLinux},
        OptionsCase{{"/t", "-t"}, "/t", 1, 0, RunMode::Test, kLinux}));  // '-' stays the switch

struct RejectCase {
  std::vector<const char*> args;
  int rules = kBoth;
};

class RejectsCommandLine : public ::testing::TestWithParam<RejectCase> {};

TEST_P(RejectsCommandLine, WithTheUsageText) {
  for (const bool slash : SlashRules(GetParam().rules)) {
    SCOPED_TRACE(slash ? "'/' introduces switches" : "only '-' introduces switches");
    fake::System().slashSwitches = slash;
    EXPECT_EQ(Parse(GetParam().args).result, ParseResult::Usage);
  }
  fake::Reset();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RejectsCommandLine,
    ::testing::Values(RejectCase{{"?"}}, RejectCase{{"-?"}}, RejectCase{{"/?"}}, RejectCase{{"-t?"}},
                      RejectCase{{"x?.exe"}}, RejectCase{{"x.exe", "a?"}}, RejectCase{{"/usr/x?"}},
                      RejectCase{{"-T"}}, RejectCase{{"-s"}}, RejectCase{{"--t"}}, RejectCase{{"-x"}},
                      RejectCase{{"x.exe", "y.exe"}},
                      // Windows: "-t" is a second target by then; Linux: "x.exe" is.
                      RejectCase{{"/t", "x.exe", "-t"}},
                      RejectCase{{"/usr/x.exe"}, kWindows}, RejectCase{{"", ""}},
                      // On Linux a switch written with '/' is a second target.
                      RejectCase{{"x", "/t"}, kLinux}, RejectCase{{"/usr/sbin/nginx", "/ts"}, kLinux},
                      RejectCase{{"/", "-x"}, kLinux}));

TEST(ParseCommandLine, StopsAtTheFirstOffendingArgument) {
  // Nothing after the offending argument is read: a dangling pointer there
  // would crash the test if it were.
  const char* args[] = {"p", "-x", reinterpret_cast<const char*>(1)};
  RunOptions options;
  EXPECT_EQ(ParseCommandLine(3, args, &options), ParseResult::Usage);
}

TEST(Usage, IsTheEightLinesExactly) {
  std::FILE* err = std::tmpfile();
  ASSERT_NE(err, nullptr);
  WriteUsage(err);
  std::rewind(err);
  std::string written;
  for (int c; (c = std::fgetc(err)) != EOF;) written.push_back(static_cast<char>(c));
  std::fclose(err);
  const std::string expected =
      "stopex          shows the exes running.      (Mar 16 2011)\n"
      "stopex ?        this.\n"
      "stopex x.exe    stops x.exe; if successful, says so.\n"
      "stopex x.exe -t \"test\"; if x.exe running, errorlevel 0, else 1. -ts shut-up\n"
      "                        about it.\n"
      "I got this from the web, don't remember where, and I guess the guy didn't want\n"
      "to get sued when this infallibly destroys your hard drive, so he remains\n"
      "anonymous, so I guess I will too.\n";
  EXPECT_EQ(written, expected);
}

}  // namespace
}  // namespace stopex
