// Processes whose own names the ANSI code page cannot hold exactly: the
// snapshot lists a best-fit look-alike, which must never pass for the name
// asked for, in test mode or in kill mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_run.h"

namespace stopex {
namespace {

using namespace testing;

fake::FakeProcess Named(std::uint32_t pid, std::string trueName) {
  fake::FakeProcess process{pid, ""};
  process.trueName = std::move(trueName);
  return process;
}

std::string LeftAlone(std::uint32_t pid, const std::string& target) {
  return "stopex: process " + std::to_string(pid) + " left alone: its name only resembles " + target + "\n";
}

struct Case {
  const char* what;
  int codePage;
  std::vector<fake::FakeProcess> snapshot;
  std::string target;
  // Test mode, then kill mode.
  int testStatus;
  std::string killOut;
  std::string killErr;
  Pids terminated;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"fullwidth letters", 0, {Named(10, "ｎｏｔｅｐａｄ.exe")}, "notepad.exe", 1, "", LeftAlone(10, "NOTEPAD.EXE"), {}},
      {"a letter with a mark", 0, {Named(10, "Ānother.exe")}, "another.exe", 1, "", LeftAlone(10, "ANOTHER.EXE"), {}},
      {"the look-alike beside the real one", 0, {Named(10, "ｂｏ.exe"), Named(11, "bo.exe"), Named(12, "ｂo.exe")},
       "bo.exe", 0, "BO.EXE Killed.", LeftAlone(10, "BO.EXE") + LeftAlone(12, "BO.EXE"), {11}},
      {"the yen sign rendered as a separator in 932", 932, {Named(10, "¥yb.exe")}, "yb.exe", 1, "",
       LeftAlone(10, "YB.EXE"), {}},
      {"the yen sign is a character of its own in 1252", 0, {Named(10, "¥yb.exe")}, "\xA5yb.exe", 0,
       "\xA5YB.EXE Killed.", "", {10}},
      {"a letter with an accent that 1252 holds", 0, {Named(10, "café.exe")}, "caf\xE9.exe", 0, "CAF\xE9.EXE Killed.",
       "", {10}},
      {"a kanji that 932 holds", 932, {Named(10, "表x.exe")}, "\x95\\x.exe", 0, "\x95\\X.EXE Killed.", "", {10}},
      {"fullwidth letters that 932 holds", 932, {Named(10, "ｘ.exe"), Named(11, "x.exe")}, "x.exe", 0,
       "X.EXE Killed.", "", {11}},
  };
  return cases;
}

TEST(LookAlikes, AreNeitherFoundNorTerminatedInEveryCodePage) {
  for (const Case& c : Cases()) {
    Script(c.snapshot);
    fake::System().codePage = c.codePage;
    auto result = RunFake(Options(c.target.c_str(), 1, 1));
    EXPECT_EQ(result.status, c.testStatus) << c.what;
    EXPECT_EQ(result.out + result.err, "") << c.what;

    Script(c.snapshot);
    fake::System().codePage = c.codePage;
    result = RunFake(Options(c.target.c_str()));
    EXPECT_EQ(result.status, c.terminated.empty() ? 1 : 0) << c.what;
    EXPECT_EQ(result.out, c.killOut) << c.what;
    EXPECT_EQ(result.err, c.killErr) << c.what;
    EXPECT_EQ(fake::System().terminated, c.terminated) << c.what;
    ExpectEveryHandleClosedOnce(c.what);
  }
}

// Test mode looks at a true name only for an entry whose listed name
// matched, and only until one match counts.
TEST(LookAlikes, TestModeAsksOnlyForMatchesUntilOneCounts) {
  Script({Named(10, "ｘ.exe"), Named(11, "y.exe"), Named(12, "x.exe"), Named(13, "x.exe")});
  const auto result = RunFake(Options("x.exe", 1));
  EXPECT_EQ(result.out, "X.EXE was running ");
  std::vector<std::string> asked;
  for (const std::string& call : fake::System().calls) {
    if (call.rfind("CompareListedName", 0) == 0) asked.push_back(call);
  }
  EXPECT_EQ(asked, (std::vector<std::string>{"CompareListedName id 10", "CompareListedName id 12"}));
}

// The program's own process, started under a look-alike of the target's
// name, is left alone like any other.
TEST(LookAlikes, TheProgramsOwnLookAlikeIsNotTerminated) {
  Script({Named(10, "stopex.exe"), Named(4242, "ｓｔｏｐｅｘ.exe")});
  const auto result = RunFake(Options("stopex.exe"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "STOPEX.EXE Killed.");
  EXPECT_EQ(result.err, LeftAlone(4242, "STOPEX.EXE"));
  EXPECT_EQ(fake::System().terminated, (Pids{10}));
}

}  // namespace
}  // namespace stopex
