// The command-line rules: which arguments give which options, which the usage text, and the text itself.
#include "cli/parse_command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/usage.h"
#include "fake/process_fake.h"

namespace stopex {
namespace {

struct Parsed {
  ParseResult result;
  RunOptions options;
};

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
  bool windows = true;  // the Windows rules; false: the Linux ones (only '-' introduces switches)
};

// The command-line rules of one platform, as the fake answers for them.
void RulesOf(bool windows) {
  fake::System().slashSwitches = windows;
  fake::System().testSwitchNeedsTarget = !windows;
}

class ParsesOptions : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ParsesOptions, IntoTheRecordAndMode) {
  const OptionsCase& c = GetParam();
  RulesOf(c.windows);
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

INSTANTIATE_TEST_SUITE_P(
    Cases, ParsesOptions,
    ::testing::Values(
        OptionsCase{{}, nullptr, 0, 0, RunMode::List},
        OptionsCase{{"-"}, nullptr, 0, 0, RunMode::List},
        OptionsCase{{"/"}, nullptr, 0, 0, RunMode::List},
        OptionsCase{{"x.exe"}, "x.exe", 0, 0, RunMode::Kill},
        OptionsCase{{"x.exe", "-t"}, "x.exe", 1, 0, RunMode::Test},
        OptionsCase{{"-t", "x.exe"}, "x.exe", 1, 0, RunMode::Test},
        OptionsCase{{"/t", "x.exe"}, "x.exe", 1, 0, RunMode::Test},
        OptionsCase{{"-tx", "x.exe"}, "x.exe", 1, 0, RunMode::Test},
        OptionsCase{{"-ts", "x.exe"}, "x.exe", 1, 1, RunMode::Test},
        OptionsCase{{"-ts-", "x.exe"}, "x.exe", 1, 1, RunMode::Test},   // fourth character ignored
        OptionsCase{{"-t-", "x.exe"}, "x.exe", 0, 0, RunMode::Kill},
        OptionsCase{{"-t-s", "x.exe"}, "x.exe", 0, 0, RunMode::Kill},
        OptionsCase{{"-t", "x.exe", "-t-"}, "x.exe", 0, 0, RunMode::Kill},  // the last -t decides
        OptionsCase{{"-ts", "-t-", "x.exe"}, "x.exe", 0, 1, RunMode::Kill}, // silent stays set
        OptionsCase{{"-t-", "-t"}, nullptr, 1, 0, RunMode::Test},         // test without a target
        OptionsCase{{"-ts"}, nullptr, 1, 1, RunMode::Test},               // Windows: it succeeds
        OptionsCase{{""}, "", 0, 0, RunMode::Kill},                        // an empty argument is a target
        OptionsCase{{"/", "-x"}, "-x", 0, 0, RunMode::Kill},               // '/' makes '-' ordinary
        OptionsCase{{"/t", "-t"}, "-t", 1, 0, RunMode::Test},
        OptionsCase{{"-", "x"}, "x", 0, 0, RunMode::Kill},
        OptionsCase{{"/tzzz", "c:\\w\\a.exe"}, "c:\\w\\a.exe", 1, 0, RunMode::Test},
        // On Linux an argument that begins with '/' is a path: a target.
        OptionsCase{{"/usr/sbin/nginx"}, "/usr/sbin/nginx", 0, 0, RunMode::Kill, false},
        OptionsCase{{"/tmp/worker/run", "-t"}, "/tmp/worker/run", 1, 0, RunMode::Test, false},
        OptionsCase{{"-ts", "/t"}, "/t", 1, 1, RunMode::Test, false},
        OptionsCase{{"/"}, "/", 0, 0, RunMode::Kill, false},
        OptionsCase{{"-ts", "-t-"}, nullptr, 0, 1, RunMode::List, false}));  // no test left on

// A command line and the rule it is read under, the Windows one unless said.
struct RejectCase {
  RejectCase(std::vector<const char*> a, bool w = true) : args(std::move(a)), windows(w) {}
  std::vector<const char*> args;
  bool windows;
};

class RejectsCommandLine : public ::testing::TestWithParam<RejectCase> {};

TEST_P(RejectsCommandLine, WithTheUsageText) {
  RulesOf(GetParam().windows);
  EXPECT_EQ(Parse(GetParam().args).result, ParseResult::Usage);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RejectsCommandLine,
    ::testing::Values(std::vector<const char*>{"?"}, std::vector<const char*>{"-?"},
                      std::vector<const char*>{"/?"}, std::vector<const char*>{"-t?"},
                      std::vector<const char*>{"x?.exe"}, std::vector<const char*>{"x.exe", "a?"},
                      std::vector<const char*>{"-T"}, std::vector<const char*>{"-s"},
                      std::vector<const char*>{"--t"}, std::vector<const char*>{"-x"},
                      std::vector<const char*>{"x.exe", "y.exe"},
                      std::vector<const char*>{"/t", "x.exe", "-t"},  // "-t" is a second target by then
                      std::vector<const char*>{"/usr/x.exe"}, std::vector<const char*>{"", ""},
                      // On Linux "/t" is a target, "-t" still a switch, "?" still the usage.
                      RejectCase{{"x", "/t"}, false}, RejectCase{{"/t", "x.exe", "-t"}, false},
                      RejectCase{{"/", "-x"}, false}, RejectCase{{"/usr/x?"}, false},
                      // On Linux a test needs its target ("stopex $unset -ts").
                      RejectCase{{"-t"}, false}, RejectCase{{"-ts"}, false},
                      RejectCase{{"-t-", "-t"}, false}));

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
