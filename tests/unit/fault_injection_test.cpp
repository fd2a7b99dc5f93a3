// Every platform call of a run fails in turn, with each failure value its
// interface allows: the run survives, terminates nothing that did not match,
// closes every handle once, prints only its documented lines and ends with
// the status the rules give for what happened.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "fake_run.h"
#include "platform/exit_status.h"
#include "platform/memory.h"

namespace stopex {
namespace {

using namespace testing;

// x.exe bare and with a directory, a process that cannot be opened, one whose
// termination is refused, one still ending after the wait, a look-alike, the
// program itself, and decoys.
std::vector<fake::FakeProcess> Snapshot() {
  fake::FakeProcess refused{14, "x.exe", 0, 5};
  fake::FakeProcess stuck{15, "x.exe"};
  stuck.keepsEnding = true;
  fake::FakeProcess lookalike{16, ""};
  lookalike.trueName = "ｘ.exe";
  return {{10, "x.exe"}, {11, "y.exe"}, {12, "C:\\T\\X.EXE"}, {13, "x.exe", 5}, refused, stuck, lookalike,
          {4242, "x.exe"}, {17, "xx.exe"}};
}
const Pids kMatching = {10, 12, 13, 14, 15, 16, 4242};

bool Contains(const Pids& pids, std::uint32_t pid) { return std::find(pids.begin(), pids.end(), pid) != pids.end(); }

// Each mode's documented lines, on standard output and standard error.
const std::regex kListOut("([^\\n]*\\n)*");
const std::regex kTestOut("(X\\.EXE (was|wasn't) running )?");
const std::regex kKillOut("((X\\.EXE|C:\\\\T\\\\X\\.EXE) Killed\\.|(OpenProcess|TerminateProcess)\\(\\) failed, err = \\d+\\n)*");
const std::regex kErr(
    "(stopex: (CreateToolhelp32Snapshot|Process32First|Process32Next) not found in KERNEL32\\.DLL\\n|"
    "stopex: cannot list the processes: error \\d+\\n|"
    "stopex: process \\d+ left alone: its name only resembles X\\.EXE\\n|"
    "stopex: (X\\.EXE|C:\\\\T\\\\X\\.EXE) \\(process \\d+\\) is still ending\\n)*");

struct Mode {
  const char* what;
  RunOptions options;
  const std::regex* out;
};

void CheckRun(const Mode& mode, const RunResult& result, const std::string& where) {
  const fake::FakeSystem& system = fake::System();
  EXPECT_TRUE(std::regex_match(result.out, *mode.out)) << where << ": " << result.out;
  EXPECT_TRUE(std::regex_match(result.err, kErr)) << where << ": " << result.err;
  for (std::uint32_t pid : system.terminated) EXPECT_TRUE(Contains(kMatching, pid)) << where << ": " << pid;
  for (Handle handle : system.opened) {
    EXPECT_EQ(std::count(system.closed.begin(), system.closed.end(), handle), 1) << where << ": " << handle;
  }
  EXPECT_EQ(system.closed.size(), system.opened.size()) << where;

  // The list was read when the snapshot was taken and the walk began.
  const bool listed = std::find(system.calls.begin(), system.calls.end(), "Process32First dwSize=296") !=
                      system.calls.end();
  int status = kExitFailure;
  if (mode.options.testSwitch != 0) {
    for (std::uint32_t pid : system.delivered) {
      if (Contains(kMatching, pid) && !Contains(system.lookAlikes, pid)) status = kExitSuccess;
    }
  } else if (mode.options.target == nullptr) {
    // A list cut short by a failed step of the walk is no answer either.
    const std::string failed = system.failAt > 0 && system.failAt <= static_cast<int>(system.calls.size())
                                   ? system.calls[static_cast<std::size_t>(system.failAt) - 1]
                                   : "";
    const bool cut = failed.starts_with("Process32");
    status = listed && !cut ? kExitSuccess : kExitFailure;
  } else {
    if (!system.terminated.empty()) status = kExitSuccess;
    if (Contains(system.terminated, 4242)) status = kExitTerminatedItself;
  }
  EXPECT_EQ(result.status, status) << where;
}

TEST(FaultInjection, EveryCallFailingInTurnIsSurvived) {
  const Mode modes[] = {{"list", Options(nullptr), &kListOut},
                        {"test", Options("x.exe", 1), &kTestOut},
                        {"kill", Options("x.exe"), &kKillOut}};
  for (const Mode& mode : modes) {
    Script(Snapshot());
    const RunResult clean = RunFake(mode.options);
    CheckRun(mode, clean, std::string(mode.what) + " without a fault");
    const std::vector<std::string> calls = fake::System().calls;
    const Pids terminated = fake::System().terminated;
    int runs = 0;
    for (std::size_t k = 1; k <= calls.size() + 1; ++k) {
      const std::string call = k <= calls.size() ? calls[k - 1].substr(0, calls[k - 1].find(' ')) : "";
      for (int variant = 0; variant < (k <= calls.size() ? fake::FailureValues(call) : 1); ++variant) {
        Script(Snapshot());
        fake::System().failAt = static_cast<int>(k);
        fake::System().failVariant = variant;
        const RunResult result = RunFake(mode.options);
        const std::string where = std::string(mode.what) + ", call " + std::to_string(k) + " (" + call + ") fails, value " +
                                  std::to_string(variant);
        CheckRun(mode, result, where);
        ++runs;
        if (k > calls.size()) {  // past the last call: nothing failed, and nothing differs
          EXPECT_EQ(result.status, clean.status) << where;
          EXPECT_EQ(result.out, clean.out) << where;
          EXPECT_EQ(result.err, clean.err) << where;
          EXPECT_EQ(fake::System().terminated, terminated) << where;
        }
      }
    }
    EXPECT_GT(runs, static_cast<int>(calls.size())) << mode.what;
  }
}

// The one memory policy: what cannot be had ends the run, said and with
// status 1, and never hands back a block too small.
TEST(FaultInjection, RunningOutOfMemoryEndsTheRunWithAMessageAndStatus1) {
  EXPECT_EXIT(Resize(nullptr, static_cast<std::size_t>(-1) / 2, 4), ::testing::ExitedWithCode(kExitFailure),
              "^stopex: out of memory\n$");
  // A size whose product wraps to nothing is no small request.
  EXPECT_EXIT(Resize(nullptr, static_cast<std::size_t>(-1) / 2 + 1, 2), ::testing::ExitedWithCode(kExitFailure),
              "^stopex: out of memory\n$");
  void* block = Resize(nullptr, 0, 8);  // nothing asked for is still a block
  EXPECT_NE(block, nullptr);
  std::free(block);
}

}  // namespace
}  // namespace stopex
