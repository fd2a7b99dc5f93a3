// The in-memory backend that tests script: snapshot entries, failures and
// their error codes, and a log of every call the logic makes. It holds the
// logic to the interface's rules as strictly as the strictest backend does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process_api.h"

namespace stopex::fake {

struct FakeProcess {
  std::uint32_t pid = 0;
  std::string imageName;
  std::uint32_t openError = 0;       // nonzero: OpenProcess fails with this code
  std::uint32_t terminateError = 0;  // nonzero: TerminateProcess fails with this code
  bool keepsEnding = false;          // terminated, it has still not ended when a wait is over
  // The name the system holds, in UTF-8; empty when it cannot be learned.
  // The snapshot lists its rendering in the simulated code page (with best
  // fit, as Windows does) where imageName is left empty.
  std::string trueName = {};
  const char* openErrorText = nullptr;  // with openError: what DescribeLastError says
};

struct FakeSystem {
  std::vector<FakeProcess> processes;  // the snapshot, in order
  bool snapshotFails = false;          // CreateToolhelp32Snapshot gives INVALID_HANDLE_VALUE, error 31
  const char* snapshotErrorText = nullptr;  // and DescribeLastError says this
  bool missing[3] = {false, false, false};  // bindings that yield nothing, in binding order
  int codePage = 0;                    // 932, 936 or 950: a simulated double-byte code page;
                                       // 0 renders true names as 1252 does
  const char* hiddenText = nullptr;     // what DescribeHiddenProcesses says
  const char* unreadText = nullptr;     // what DescribeUnreadProcesses says
  const char* unreadByWait = nullptr;   // what it says once a wait has been made, where set
  bool slashSwitches = true;           // "/" introduces switches, as on Windows; false as on Linux
  bool testSwitchNeedsTarget = false;  // -t with no target is a usage error, as on Linux; false as on Windows
  bool windowsPaths = true;            // "\" and "C:" are path syntax, as on Windows; false as on Linux
  std::uint32_t ownPid = 4242;
  std::uint32_t entrySize = 296;

  // Fault injection: the failAt-th platform call (counting from 1, in the
  // order of `calls`) fails, with the failure value numbered failVariant of
  // those its interface allows (FailureValues names how many).
  int failAt = 0;
  int failVariant = 0;

  // What happened, for the tests to assert on.
  std::vector<std::string> calls;        // one line per platform call, in order
  std::vector<std::uint32_t> terminated; // pids whose termination succeeded
  int openHandles = 0;                   // process and snapshot handles not yet closed
  int closeErrors = 0;                   // CloseHandle on a handle that was not open
  int waits = 0;                         // calls of WaitForProcesses
  std::vector<std::uint32_t> delivered;  // pids the walk handed out, in order
  std::vector<std::uint32_t> lookAlikes; // pids CompareListedName called look-alikes
  std::vector<Handle> opened;            // every handle handed out
  std::vector<Handle> closed;            // every handle CloseHandle was called with
};

// How many failure values the interface allows the platform call named so
// (the first word of its line in `calls`).
int FailureValues(const std::string& call);

// The one scripted system; Reset() before each test.
FakeSystem& System();
void Reset();

// A UTF-8 name rendered in the simulated code page with best fit, for the
// few characters the tests use; exact is false where a look-alike or the
// default character "?" stood in.
std::string Render(const std::string& utf8, int codePage, bool* exact);

// Lead bytes of the double-byte code pages: 932 (Shift-JIS) 0x81-0x9F and
// 0xE0-0xFC; 936 (GBK) and 950 (Big5) 0x81-0xFE.
bool IsShiftJisLeadByte(unsigned char byte);
bool IsGbkLeadByte(unsigned char byte);
bool IsBig5LeadByte(unsigned char byte);

}  // namespace stopex::fake
