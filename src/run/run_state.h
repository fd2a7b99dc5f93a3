// Everything one run owns, from the parsed options to the entry record the
// walk refills, and what the modes share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "match/target_name.h"
#include "platform/process_api.h"
#include "run/report.h"
#include "run/run.h"

namespace stopex {

// Kill mode: the processes terminated during the walk, whose handles are held
// until they have ended. Side by side, as the wait takes them.
struct TerminatedProcess {
  std::uint32_t processId;
  char imageName[kExeFileSize];  // as reported
};
struct TerminatedProcesses {
  Handle* handles = nullptr;
  bool* ended = nullptr;
  TerminatedProcess* processes = nullptr;
  std::size_t count = 0;
  std::size_t capacity = 0;
};

struct RunState {
  RunOptions options;
  int runStatus = 1;  // becomes the exit status
  char targetName[kTargetNameSize] = {};  // empty unless a target was given
  char* shownTarget = nullptr;  // the target as reports show it, once prepared
  PathRules pathRules = PathRules::Windows;  // how the target and the image names are read
  ProcessEntry entry;
  // Kill mode: the program's own process matched; it is terminated only
  // after every other match has been attempted.
  bool ownProcessMatched = false;
  bool anyMatched = false;  // kill mode: some entry matched the target
  std::uint32_t ownProcessId = 0;
  TerminatedProcesses terminated;
  const char* lastExplained = nullptr;  // kill mode: the last failure text said
  // What the walk could not read: the error that cut it short (0 where it
  // ran to its end) and what that code does not say, or the processes
  // whose records could not be read (null where none).
  std::uint32_t walkError = 0;
  const char* walkErrorText = nullptr;
  const char* unread = nullptr;
  std::FILE* out = nullptr;
  std::FILE* err = nullptr;
  int outputError = 0;         // errno of the first write to out that failed
  bool outputFinished = false;
};

// Writes a message on standard output, keeping the reason of the first
// failure for FinishOutput.
void Print(RunState& state, const Message& message);
void Print(RunState& state, const char* text, std::size_t length);

// Writes out what standard output still holds. Where any write to it
// failed, says so on standard error, once, and list mode ends with status 1:
// a list that did not arrive is no answer. Test and kill modes keep their
// status, since what was terminated is terminated however it was reported.
void FinishOutput(RunState& state);

// Says on standard error, once, why a process that runs may not have been
// seen, where the system hides some from this user: test and kill modes
// call it when they found no match.
void SayWhatMayBeHidden(RunState& state);

// Says on standard error, once, what the walk could not read, where it
// could not read everything: the answer of every mode is then incomplete.
// True when it said so.
bool SayWhatWasNotRead(RunState& state);

// The preparation that test and kill modes share: the target as typed,
// reduced and copied with the platform's copy, then upper-cased by the
// platform's rules.
void PrepareTargetName(RunState& state);

// Upper-cases the entry's image name in place, as reports show it, and tells
// whether it names the target: the test that test and kill modes share.
bool EntryMatches(RunState& state);

}  // namespace stopex
