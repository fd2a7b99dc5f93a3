// Runs the driver against the scripted fake system and captures what it writes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "run/run.h"
#include "fake/process_fake.h"

namespace stopex::testing {

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

}  // namespace stopex::testing
