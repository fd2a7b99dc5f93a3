// The run driver against the fake: the one walk, list and test modes, the messages and what is said when output fails.
#include "run/run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fake_run.h"
#include "platform/exit_status.h"
#include "run/report.h"

namespace stopex {
namespace {

using namespace testing;

// The program's own messages: its name, then the texts and numbers in order,
// each message a line of its own.
TEST(Report, SaysTheProgramsOwnMessageAsOneLine) {
  std::FILE* err = std::tmpfile();
  const char name[8] = "x.exe";
  Say(err, name, " (process ", std::uint32_t{0}, ") and ", std::uint32_t{4294967295u}, "");
  Say(err, "alone");
  EXPECT_EQ(ReadAll(err), "stopex: x.exe (process 0) and 4294967295\nstopex: alone\n");
}

TEST(RunDriver, ListsEveryImageNameAsDeliveredInSnapshotOrder) {
  Script({{8, "C:\\WINDOWS\\Explorer.EXE"}, {4, "System"}, {12, "stopex.exe"}, {3, ""}});
  const auto result = RunFake(Options(nullptr));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "C:\\WINDOWS\\Explorer.EXE\nSystem\nstopex.exe\n\n");
  EXPECT_EQ(result.err, "");
  ExpectWholeWalk({8, 4, 12, 3});
  ExpectEveryHandleClosedOnce();
}

TEST(RunDriver, SetsTheRecordSizeTheBackendAsksFor) {
  Script({{1, "a"}});
  fake::System().entrySize = 568;
  EXPECT_EQ(RunFake(Options(nullptr)).out, "a\n");
  EXPECT_EQ(Calls("Process32First dwSize=568"), 1u);
  EXPECT_EQ(Calls("Process32Next dwSize=568"), 1u);
}

// A list that could not be read is said, and no mode answers as if it had
// been read empty.
TEST(RunDriver, SaysASnapshotThatCouldNotBeTaken) {
  struct Case {
    RunOptions options;
    const char* why;
    std::string err;
  };
  const Case cases[] = {{Options(nullptr), nullptr, "stopex: cannot list the processes: error 31\n"},
                        {Options(nullptr, 1), nullptr, "stopex: cannot list the processes: error 31\n"},
                        {Options("x.exe", 1), "/proc is not a proc file system",
                         "stopex: cannot list the processes: /proc is not a proc file system\n"},
                        {Options("x.exe", 1, 1), nullptr, "stopex: cannot list the processes: error 31\n"},
                        {Options("x.exe"), nullptr, "stopex: cannot list the processes: error 31\n"}};
  for (const Case& c : cases) {
    Script({{1, "x.exe"}});
    fake::System().snapshotFails = true;
    fake::System().snapshotErrorText = c.why;
    const auto result = RunFake(c.options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
    EXPECT_TRUE(fake::System().terminated.empty());
    // Nothing walked, and no handle closed that was never given.
    EXPECT_EQ(Calls("CreateToolhelp32Snapshot 2 0"), 1u);
    EXPECT_EQ(Calls("Process32First") + Calls("Process32Next"), 0u);
    EXPECT_TRUE(fake::System().closed.empty());
  }
}

// Where the system hides some processes from this user, a test or a kill
// that found no match says so once; stdout and the status stay as they are.
TEST(RunDriver, SaysThatAProcessMayBeHiddenWhenNoneMatched) {
  const std::string hidden = "stopex: others are hidden\n";
  const struct {
    RunOptions options;
    int status;
    std::string out, err;
  } cases[] = {
      {Options("y.exe", 1), 1, "Y.EXE wasn't running ", hidden},
      {Options("y.exe", 1, 1), 1, "", ""},  // silenced
      {Options("x.exe", 1), 0, "X.EXE was running ", ""},
      {Options("y.exe"), 1, "", hidden},
      {Options("x.exe"), 1, "OpenProcess() failed, err = 5\n", ""},  // found, if not terminated
      {Options(nullptr), 0, "x.exe\n", ""},
  };
  for (const auto& c : cases) {
    Script({{1, "x.exe", 5}});
    fake::System().hiddenText = "others are hidden";
    const auto result = RunFake(c.options);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
  }
}

// A walk that could not read every process it listed, or was cut short,
// is no answer that nothing runs: each mode says so once, and only a match
// answers the test.
TEST(RunDriver, SaysWhatTheWalkCouldNotRead) {
  const std::string unread = "stopex: 2 processes could not be read: Input/output error\n";
  const std::string cut = "stopex: cannot list the processes: error 8\n";
  const std::string hidden = "stopex: others are hidden\n";
  const struct {
    RunOptions options;
    int failAt;  // the call to Process32Next that fails; 0: the records are unread
    int status;
    std::string out, err;
  } cases[] = {
      {Options(nullptr), 0, 1, "x.exe\nz.exe\n", unread},
      {Options("x.exe", 1), 0, 0, "X.EXE was running ", ""},
      {Options("y.exe", 1), 0, 1, "Y.EXE wasn't running ", unread + hidden},
      {Options("y.exe", 1, 1), 0, 1, "", unread},
      {Options("x.exe", 1, 1), 0, 0, "", ""},
      {Options("x.exe"), 0, 0, "X.EXE Killed.", unread},
      {Options("y.exe"), 0, 1, "", unread + hidden},
      {Options(nullptr), 4, 1, "x.exe\n", cut},
      {Options("y.exe", 1), 4, 1, "Y.EXE wasn't running ", cut + hidden},
      {Options("x.exe"), 7, 0, "X.EXE Killed.", cut},
  };
  for (const auto& c : cases) {
    Script({{1, "x.exe"}, {2, "z.exe"}});
    fake::System().hiddenText = "others are hidden";
    if (c.failAt == 0) fake::System().unreadText = "2 processes could not be read: Input/output error";
    fake::System().failAt = c.failAt;
    const auto result = RunFake(c.options);
    EXPECT_EQ(result.status, c.status) << c.out;
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err) << c.out;
  }
  // What only the wait after the walk could not read is said too.
  Script({{1, "x.exe"}, {2, "z.exe"}});
  fake::System().unreadByWait = "1 process could not be read: Input/output error";
  EXPECT_EQ(RunFake(Options("x.exe")).err, "stopex: 1 process could not be read: Input/output error\n");
}

TEST(RunDriver, NeverCallsThroughAMissingEntryPoint) {
  const char* names[] = {"CreateToolhelp32Snapshot", "Process32First", "Process32Next"};
  for (int missing = 0; missing < 3; ++missing) {
    for (const RunOptions& options : {Options(nullptr), Options("x.exe", 1), Options("x.exe")}) {
      Script({{1, "x.exe"}});
      fake::System().missing[missing] = true;
      const auto result = RunFake(options);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err, std::string("stopex: ") + names[missing] + " not found in KERNEL32.DLL\n");
      EXPECT_EQ(Calls("CreateToolhelp32Snapshot") + Calls("Process32First") + Calls("Process32Next"), 0u);
      EXPECT_TRUE(fake::System().opened.empty());
    }
  }
}

TEST(TestMode, ReportsOnceWhateverTheNumberOfMatches) {
  struct Case {
    std::vector<fake::FakeProcess> snapshot;
    RunOptions options;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{{1, "x.exe"}, {2, "y.exe"}, {3, "X.EXE"}}, Options("x.exe", 1), 0, "X.EXE was running "},
      {{{1, "y.exe"}}, Options("x.exe", 1), 1, "X.EXE wasn't running "},
      {{}, Options("x.exe", 1), 1, "X.EXE wasn't running "},
      {{{1, "x.exe"}}, Options("x.exe", 1, 1), 0, ""},
      {{{1, "y.exe"}}, Options("x.exe", 1, 1), 1, ""},
      // Case-blind, whatever was typed; the report names the reduced target.
      {{{1, "notepad.exe"}}, Options("c:\\windows\\Notepad.EXE", 1), 0, "NOTEPAD.EXE was running "},
      {{{1, "C:\\WINDOWS\\NOTEPAD.EXE"}}, Options("notepad.exe", 1), 0, "NOTEPAD.EXE was running "},
      {{{1, "C:\\WINDOWS\\NOTEPAD.EXE"}}, Options("pad.exe", 1), 1, "PAD.EXE wasn't running "},
      {{{1, "C:\\WINDOWS\\NOTEPAD.EXE"}}, Options("C:\\dir\\", 1), 1, " wasn't running "},
      {{{1, "x.exe"}}, Options("", 1), 1, " wasn't running "},
      {{{1, ".exe"}}, Options("..exe", 1), 0, ".EXE was running "},  // dots reduced as Windows does
      // Without a target the run succeeds from the start.
      {{{1, "x.exe"}}, Options(nullptr, 1), 0, " was running "},
      {{}, Options(nullptr, 1, 1), 0, ""},
  };
  for (const Case& c : cases) {
    Script(c.snapshot);
    const auto result = RunFake(c.options);
    EXPECT_EQ(result.status, c.status) << c.out;
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(fake::System().terminated.empty());
    // The walk always runs to the end, whatever was found on the way.
    Pids entries;
    for (const auto& process : c.snapshot) entries.push_back(process.pid);
    ExpectWholeWalk(entries, c.out);
  }
}

// Standard output that takes nothing (a full disk, a closed handle): the
// run says so on standard error. A list that did not arrive fails; the test
// and kill answers stand, and so does every termination.
TEST(RunDriver, SaysSoWhenStandardOutputCannotBeWritten) {
  struct Case {
    RunOptions options;
    int status;
    std::vector<std::uint32_t> terminated;
    const char* own = "stopex.exe";  // the program's own name
  };
  const Case cases[] = {{Options(nullptr), 1, {}},
                        {Options("x.exe", 1), 0, {}},
                        {Options("y.exe", 1), 1, {}},
                        {Options("x.exe"), 0, {7}},
                        {Options("y.exe"), 1, {}},
                        {Options("x.exe"), kExitTerminatedItself, {7, 4242}, "x.exe"}};  // said before it ends itself, once
  for (const Case& c : cases) {
    for (const bool buffered : {false, true}) {
      Script({{7, "x.exe"}, {8, "z.exe"}, {4242, c.own}});
      const char* path = "stopex-output-test.tmp";  // in the test's own folder
      std::FILE* made = std::fopen(path, "w");
      ASSERT_NE(made, nullptr);
      std::fclose(made);
      std::FILE* out = std::fopen(path, "r");  // a stream that refuses every write
      ASSERT_NE(out, nullptr);
      if (!buffered) std::setvbuf(out, nullptr, _IONBF, 0);
      std::FILE* err = std::tmpfile();
      const int status = stopex::Run(c.options, out, err);
      std::fclose(out);
      std::remove(path);
      const std::string said = ReadAll(err);
      EXPECT_EQ(status, c.status) << c.options.target << buffered;
      EXPECT_EQ(fake::System().terminated, c.terminated);
      if (c.options.target != nullptr && c.options.testSwitch == 0 && c.terminated.empty()) {
        EXPECT_EQ(said, "");  // nothing to print, nothing that failed
      } else {
        EXPECT_EQ(said, "stopex: cannot write standard output: Bad file descriptor\n") << buffered;
      }
    }
  }
}

}  // namespace
}  // namespace stopex
