#include "run/kill_mode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "fake_run.h"
#include "match/target_name.h"

namespace stopex {
namespace {

using testing::Options;
using testing::RunFake;
using testing::Script;
using Calls = std::vector<std::string>;
using Pids = std::vector<std::uint32_t>;

TEST(KillMode, AttemptsEveryMatchAndReportsEachOutcomeInOrder) {
  struct Case {
    const char* what;
    std::vector<fake::FakeProcess> snapshot;
    int status;
    std::string out;
    Pids terminated;
  };
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
  };
  for (const Case& c : cases) {
    Script(c.snapshot);
    const auto result = RunFake(Options("x.exe"));
    EXPECT_EQ(result.status, c.status) << c.what;
    EXPECT_EQ(result.out, c.out) << c.what;
    EXPECT_EQ(result.err, "") << c.what;
    EXPECT_EQ(fake::System().terminated, c.terminated) << c.what;
    EXPECT_EQ(fake::System().openHandles, 0) << c.what;
    EXPECT_EQ(fake::System().closeErrors, 0) << c.what;
  }
}

TEST(KillMode, ClosesEachProcessHandleOnceAfterEitherOutcome) {
  Script({{10, "x.exe"}, {11, "x.exe", 0, 5}, {12, "x.exe", 5}});
  RunFake(Options("x.exe"));
  EXPECT_EQ(fake::System().calls,
            (Calls{"BindProcessApi", "CreateToolhelp32Snapshot 2 0", "Process32First dwSize=296",
                   "OpenProcess 1 0 10", "TerminateProcess process 10 4294967295", "CloseHandle process 10",
                   "Process32Next dwSize=296",
                   "OpenProcess 1 0 11", "TerminateProcess process 11 4294967295", "CloseHandle process 11",
                   "Process32Next dwSize=296",
                   "OpenProcess 1 0 12",
                   "Process32Next dwSize=296", "CloseHandle snapshot"}));
}

TEST(KillMode, TerminatesItsOwnProcessLastAfterWritingOutEarlierReports) {
  Script({{10, "stopex.exe"}, {4242, "stopex.exe"}, {11, "other.exe"}, {12, "C:\\T\\STOPEX.EXE"}});
  const auto result = RunFake(Options("stopex.exe"));
  EXPECT_EQ(result.status, static_cast<int>(kTerminateExitCode));
  EXPECT_EQ(result.out, "STOPEX.EXE Killed.C:\\T\\STOPEX.EXE Killed.");
  EXPECT_EQ(fake::System().terminated, (Pids{10, 12, 4242}));
  const Calls& calls = fake::System().calls;
  const auto closed = std::find(calls.begin(), calls.end(), "CloseHandle snapshot");
  const auto own = std::find(calls.begin(), calls.end(), "OpenProcess 1 0 4242");
  EXPECT_LT(closed, own);  // the whole walk first
  EXPECT_EQ(fake::System().openHandles, 0);
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
