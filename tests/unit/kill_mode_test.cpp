// Kill mode against the fake: what is opened, checked, terminated, reported and waited for, and in what order.
#include "platform/exit_status.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "fake_run.h"
#include "match/target_name.h"

namespace stopex {
namespace {

using namespace testing;

TEST(KillMode, AttemptsEveryMatchAndReportsEachOutcomeInOrder) {
  struct Case {
    const char* what;
    std::vector<fake::FakeProcess> snapshot;
    int status;
    std::string out;
    Pids terminated;
    std::string err = "";
  };
  // Failures whose code does not say all: the text once, on standard error.
  fake::FakeProcess untold{10, "x.exe", 5};
  untold.openErrorText = "processes cannot be told apart";
  fake::FakeProcess untoldToo = untold;
  untoldToo.pid = 11;
  // More matches than the first room for the terminated holds, twice over;
  // the last one is still ending after the wait.
  std::vector<fake::FakeProcess> many;
  for (std::uint32_t pid = 100; pid < 140; ++pid) many.push_back({pid, "x.exe"});
  many.back().keepsEnding = true;
  Pids manyPids;
  std::string manyKilled;
  for (const auto& process : many) {
    manyPids.push_back(process.pid);
    manyKilled += "X.EXE Killed.";
  }
  const Case cases[] = {
      {"two terminated", {{10, "x.exe"}, {11, "y.exe"}, {12, "C:\\B\\X.EXE"}}, 0,
       "X.EXE Killed.C:\\B\\X.EXE Killed.", {10, 12}},
      {"open fails, then one terminated", {{10, "x.exe", 5}, {12, "x.exe"}}, 0,
       "OpenProcess() failed, err = 5\nX.EXE Killed.", {12}},
      {"terminated, then termination refused", {{10, "x.exe"}, {12, "x.exe", 0, 5}}, 0,
       "X.EXE Killed.TerminateProcess() failed, err = 5\n", {10}},
      {"failures only", {{10, "x.exe", 87}, {12, "x.exe", 0, 4294967295u}}, 1,
       "OpenProcess() failed, err = 87\nTerminateProcess() failed, err = 4294967295\n", {}},
      {"no match", {{10, "y.exe"}, {11, "xx.exe"}, {12, "x.exe.bak"}}, 1, "", {}},
      {"empty snapshot", {}, 1, "", {}},
      {"unexplained failures", {untold, untoldToo, {12, "x.exe"}}, 0,
       "OpenProcess() failed, err = 5\nOpenProcess() failed, err = 5\nX.EXE Killed.", {12},
       "stopex: processes cannot be told apart\n"},
      {"forty terminated", many, 0, manyKilled, manyPids, "stopex: X.EXE (process 139) is still ending\n"},
  };
  for (const Case& c : cases) {
    Script(c.snapshot);
    const auto result = RunFake(Options("x.exe"));
    EXPECT_EQ(result.status, c.status) << c.what;
    EXPECT_EQ(result.out, c.out) << c.what;
    EXPECT_EQ(result.err, c.err) << c.what;
    EXPECT_EQ(fake::System().terminated, c.terminated) << c.what;
    ExpectEveryHandleClosedOnce(c.what);
  }
}

// Each match is opened for termination alone and checked to be the process
// listed before it is terminated, with exit code 0xFFFFFFFF. A refused
// termination's handle is closed at once; a terminated process's is held
// until, after the walk, all of them have been waited for together.
TEST(KillMode, ClosesEachProcessHandleOnceAfterEitherOutcome) {
  Script({{10, "x.exe"}, {11, "x.exe", 0, 5}, {12, "x.exe", 5}, {13, "x.exe"}});
  const auto result = RunFake(Options("x.exe"));
  EXPECT_EQ(result.out, "X.EXE Killed.TerminateProcess() failed, err = 5\nOpenProcess() failed, err = 5\nX.EXE Killed.");
  EXPECT_EQ(fake::System().terminated, (Pids{10, 13}));
  ExpectWholeWalk({10, 11, 12, 13});
  ExpectEveryHandleClosedOnce();
  for (const std::string pid : {"10", "11", "13"}) {
    const std::string process = "process " + pid + " " + pid;
    EXPECT_LT(First("OpenProcess 1 0 " + pid), First("CompareListedName " + process)) << pid;
    EXPECT_LT(First("CompareListedName " + process), First("TerminateProcess process " + pid + " 4294967295")) << pid;
  }
  EXPECT_EQ(Calls("CompareListedName process 12") + Calls("TerminateProcess process 12"), 0u);  // its open failed
  EXPECT_LT(First("CloseHandle process 11"), First("OpenProcess 1 0 12"));  // before the walk goes on
  EXPECT_EQ(Calls("WaitForProcesses 2 5000"), 1u);
  EXPECT_LT(First("CloseHandle snapshot"), First("WaitForProcesses"));
  EXPECT_LT(First("WaitForProcesses"), First("CloseHandle process 10"));
  EXPECT_LT(First("WaitForProcesses"), First("CloseHandle process 13"));
}

TEST(KillMode, NamesEachProcessStillEndingWhenTheWaitIsOver) {
  fake::FakeProcess stuck{11, "C:\\T\\x.exe"};
  stuck.keepsEnding = true;
  Script({{10, "x.exe"}, stuck, {12, "y.exe"}, {13, "x.exe", 0, 5}});
  const auto result = RunFake(Options("x.exe"));
  EXPECT_EQ(result.status, 0);  // the terminations were started: the status stays
  EXPECT_EQ(result.out, "X.EXE Killed.C:\\T\\X.EXE Killed.TerminateProcess() failed, err = 5\n");
  EXPECT_EQ(result.err, "stopex: C:\\T\\X.EXE (process 11) is still ending\n");
  EXPECT_EQ(fake::System().waits, 1);
  ExpectEveryHandleClosedOnce();

  // Nothing terminated, nothing to wait for.
  Script({{13, "x.exe", 0, 5}, {14, "x.exe", 87}});
  RunFake(Options("x.exe"));
  EXPECT_EQ(fake::System().waits, 0);
}

// Entries a real Windows snapshot holds and that cannot be terminated, and
// an id that another process took over since the snapshot: each gives the
// failure line of today, and nothing is terminated.
TEST(KillMode, ReportsTheEntriesOnlyRealWindowsShows) {
  fake::FakeProcess reused{500, "x.exe"};
  reused.trueName = "other.exe";
  const struct {
    const char* what;
    fake::FakeProcess process;
    const char* target;
    std::string out;
  } cases[] = {
      {"the idle process", {0, "[System Process]", 87}, "[System Process]", "OpenProcess() failed, err = 87\n"},
      {"the kernel", {4, "System", 5}, "system", "OpenProcess() failed, err = 5\n"},
      {"a protected process", {600, "csrss.exe", 5}, "csrss.exe", "OpenProcess() failed, err = 5\n"},
      {"another user's process", {700, "x.exe", 5}, "x.exe", "OpenProcess() failed, err = 5\n"},
      {"a process still running down", {800, "x.exe", 0, 5}, "x.exe", "TerminateProcess() failed, err = 5\n"},
      {"an id taken over by another name", reused, "x.exe", "OpenProcess() failed, err = 87\n"},
  };
  for (const auto& c : cases) {
    Script({c.process});
    const auto result = RunFake(Options(c.target));
    EXPECT_EQ(result.status, 1) << c.what;
    EXPECT_EQ(result.out, c.out) << c.what;
    EXPECT_EQ(result.err, "") << c.what;
    EXPECT_TRUE(fake::System().terminated.empty()) << c.what;
    ExpectEveryHandleClosedOnce(c.what);
  }
}

// What OpenProcess may be given, as every backend keeps it: the entry the
// walk handed out last while the snapshot is open, or the program's own id.
TEST(KillMode, OpensOnlyTheEntryHandedOutLastOrItself) {
  const struct {
    const char* what;
    int handedOut;  // entries handed out before the open; -1: the walk ran to its end
    bool closed;    // the snapshot was closed before the open
    std::uint32_t pid;
    bool opens;
  } rows[] = {
      {"before any entry", 0, false, 10, false},
      {"the entry handed out last", 2, false, 10, true},
      {"the later of two", 3, false, 11, true},
      {"an earlier entry after a later one", 3, false, 10, false},
      {"after the walk's end", -1, false, 12, false},
      {"after the snapshot was closed", 2, true, 10, false},
      {"its own id before any entry", 0, false, 4242, true},
      {"its own id after the snapshot was closed", -1, true, 4242, true},
  };
  for (const auto& row : rows) {
    Script({{4242, "stopex.exe"}, {10, "x.exe"}, {11, "x.exe"}, {12, "x.exe"}});
    const ProcessApi api = BindProcessApi();
    const Handle snapshot = api.CreateToolhelp32Snapshot(kSnapProcess, 0);
    ProcessEntry entry;
    entry.dwSize = ProcessEntrySize();
    for (int n = 0; row.handedOut < 0 || n < row.handedOut; ++n) {
      if ((n == 0 ? api.Process32First : api.Process32Next)(snapshot, &entry) == 0) break;
    }
    if (row.closed) CloseHandle(snapshot);
    const Handle process = OpenProcess(kProcessTerminate, 0, row.pid);
    EXPECT_EQ(process != kNullHandle, row.opens) << row.what;
    if (!row.opens) {
      EXPECT_EQ(GetLastError(), 87u) << row.what;
    }
    if (process != kNullHandle) CloseHandle(process);
    if (!row.closed) CloseHandle(snapshot);
    ExpectEveryHandleClosedOnce(row.what);
  }
}

TEST(KillMode, TerminatesItsOwnProcessLastAfterWritingOutEarlierReports) {
  Script({{10, "stopex.exe"}, {4242, "stopex.exe"}, {11, "other.exe"}, {12, "C:\\T\\STOPEX.EXE"}});
  const auto result = RunFake(Options("stopex.exe"));
  EXPECT_EQ(result.status, kExitTerminatedItself);
  EXPECT_EQ(result.out, "STOPEX.EXE Killed.C:\\T\\STOPEX.EXE Killed.");
  EXPECT_EQ(fake::System().terminated, (Pids{10, 12, 4242}));
  EXPECT_LT(First("CloseHandle snapshot"), First("WaitForProcesses 2 5000"));  // the whole walk first, then the wait
  EXPECT_LT(First("WaitForProcesses 2 5000"), First("OpenProcess 1 0 4242"));  // for the others
  ExpectEveryHandleClosedOnce();
}

TEST(KillMode, ReportsAFailureToTerminateItsOwnProcess) {
  Script({{4242, "stopex.exe", 5}, {10, "stopex.exe"}});
  const auto result = RunFake(Options("stopex.exe"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "STOPEX.EXE Killed.OpenProcess() failed, err = 5\n");
}

// In a double-byte code page a character whose second byte is that of "\\"
// is no separator: its process is not mistaken for another one's, and a
// second byte in the range of the lower-case letters is not upper-cased.
TEST(KillMode, NeverMistakesADoubleByteCharacterForASeparator) {
  const struct {
    int codePage;
    std::string character;  // ends in 0x5C
  } pages[] = {{932, "\x83\x5C"}, {936, "\x81\x5C"}, {950, "\xA5\x5C"}};
  for (const auto& page : pages) {
    const std::string lookalike = page.character + "x.exe";
    Script({{10, lookalike}, {11, "x.exe"}, {12, "C:\\" + lookalike}, {13, "\x81\x61x.exe"}});
    fake::System().codePage = page.codePage;
    auto result = RunFake(Options("x.exe"));
    EXPECT_EQ(result.out, "X.EXE Killed.") << page.codePage;
    EXPECT_EQ(fake::System().terminated, (Pids{11})) << page.codePage;

    Script({{10, lookalike}, {11, "x.exe"}, {12, "C:\\" + lookalike}});
    fake::System().codePage = page.codePage;
    result = RunFake(Options(lookalike.c_str()));
    const std::string upper = page.character + "X.EXE";
    EXPECT_EQ(result.out, upper + " Killed.C:\\" + upper + " Killed.") << page.codePage;
    EXPECT_EQ(fake::System().terminated, (Pids{10, 12})) << page.codePage;
  }
  // 0x81 0x61 is one character of code page 932, not 0x81 and "a".
  Script({{13, "\x81\x61x.exe"}, {14, "\x81\x41x.exe"}});
  fake::System().codePage = 932;
  const auto result = RunFake(Options("\x81\x61x.exe"));
  EXPECT_EQ(result.out, "\x81\x61X.EXE Killed.");
  EXPECT_EQ(fake::System().terminated, (Pids{13}));
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// What "names the target" means, written independently of the matcher.
bool Names(const std::string& image, const std::string& target) {
  if (image.find('\\') == std::string::npos) return image == target;
  const std::string pattern = "\\" + target;
  const std::size_t at = image.find(pattern);
  return at != std::string::npos && at + pattern.size() == image.size();
}

// For random snapshots and targets, exactly the matching processes are
// terminated, never one more.
TEST(KillMode, TerminatesExactlyTheMatchingProcesses) {
  std::mt19937 random(20261208);
  const char* const parts[] = {"x", "X", "x.exe", "X.EXE", "a", ".", "\\", "c:", "exe", "/"};
  auto randomName = [&] {
    std::string name;
    for (int n = std::uniform_int_distribution<int>(0, 4)(random); n > 0; --n) {
      name += parts[std::uniform_int_distribution<std::size_t>(0, std::size(parts) - 1)(random)];
    }
    return name;
  };
  for (int round = 0; round < 400; ++round) {
    std::vector<fake::FakeProcess> snapshot;
    const int count = std::uniform_int_distribution<int>(0, 12)(random);
    for (int i = 0; i < count; ++i) snapshot.push_back({static_cast<std::uint32_t>(100 + i), randomName()});
    const std::string target = randomName();
    if (target.find('?') != std::string::npos) continue;

    char reduced[kTargetNameSize];
    ReduceTargetName(target.c_str(), fake::IsShiftJisLeadByte, reduced);
    Pids expected;
    for (const auto& process : snapshot) {
      if (Names(Upper(process.imageName), Upper(reduced))) expected.push_back(process.pid);
    }
    Script(snapshot);
    const auto result = RunFake(Options(target.c_str()));
    EXPECT_EQ(fake::System().terminated, expected) << target;
    EXPECT_EQ(result.status, expected.empty() ? 1 : 0) << target;
  }
}

}  // namespace
}  // namespace stopex
