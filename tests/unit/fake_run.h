// Runs the driver against the scripted fake system, captures what it writes
// and reads what it did there.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "run/run.h"
#include "fake/process_fake.h"

namespace stopex::testing {

using Pids = std::vector<std::uint32_t>;

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

inline std::string ReadAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

inline RunResult RunFake(const RunOptions& options) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  RunResult result;
  result.status = Run(options, out, err);
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  return result;
}

inline RunOptions Options(const char* target, int testSwitch = 0, int silent = 0) {
  RunOptions options;
  options.target = target;
  options.testSwitch = testSwitch;
  options.silent = silent;
  return options;
}

inline void Script(std::vector<fake::FakeProcess> processes) {
  fake::Reset();
  fake::System().processes = std::move(processes);
}

// Where a platform call stands in the fake's log: the places of the lines
// that read call, whole or followed by more words ("Process32Next" stands for
// each of its lines). Tests compare such places where the order is what they
// check, and never the whole log, so that a call added elsewhere breaks none.
inline std::vector<std::size_t> Places(const std::string& call) {
  std::vector<std::size_t> places;
  const std::vector<std::string>& calls = fake::System().calls;
  for (std::size_t at = 0; at < calls.size(); ++at) {
    if (calls[at] == call || calls[at].rfind(call + " ", 0) == 0) places.push_back(at);
  }
  return places;
}

inline std::size_t Calls(const std::string& call) { return Places(call).size(); }

// The first and the last place of a call; for one never made, a place that
// stands after every other, so that an order asked of it fails.
inline std::size_t First(const std::string& call) {
  const std::vector<std::size_t> places = Places(call);
  return places.empty() ? static_cast<std::size_t>(-1) : places.front();
}
inline std::size_t Last(const std::string& call) {
  const std::vector<std::size_t> places = Places(call);
  return places.empty() ? static_cast<std::size_t>(-1) : places.back();
}

// Every handle the run was given is closed, once, and nothing else is.
inline void ExpectEveryHandleClosedOnce(const std::string& what = "") {
  EXPECT_EQ(fake::System().openHandles, 0) << what;
  EXPECT_EQ(fake::System().closeErrors, 0) << what;
}

// The one walk over a snapshot of the processes: taken once, read with one
// Process32First and then Process32Next up to the end, every entry handed
// out in order, and closed once after the walk.
inline void ExpectWholeWalk(const Pids& entries, const std::string& what = "") {
  EXPECT_EQ(Calls("CreateToolhelp32Snapshot 2 0"), 1u) << what;
  EXPECT_EQ(Calls("Process32First"), 1u) << what;
  EXPECT_EQ(Calls("Process32Next"), entries.size()) << what;
  EXPECT_EQ(fake::System().delivered, entries) << what;
  EXPECT_LT(First("CreateToolhelp32Snapshot"), First("Process32First")) << what;
  std::size_t walked = First("Process32First");
  if (!entries.empty()) {
    EXPECT_LT(walked, First("Process32Next")) << what;
    walked = Last("Process32Next");
  }
  EXPECT_EQ(Calls("CloseHandle snapshot"), 1u) << what;
  EXPECT_LT(walked, First("CloseHandle snapshot")) << what;
}

}  // namespace stopex::testing
