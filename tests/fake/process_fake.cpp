// The in-memory backend: the scripted system behind every call of the interface.
#include "fake/process_fake.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "platform/ascii_case.h"

namespace stopex {
namespace fake {
namespace {

FakeSystem g_system;
std::uint32_t g_lastError = 0;
const char* g_lastErrorText = nullptr;

void SetError(std::uint32_t code, const char* text = nullptr) {
  g_lastError = code;
  g_lastErrorText = text;
}
std::set<Handle> g_open;
Handle g_nextHandle = 0x100;
constexpr Handle kSnapshotHandle = 0x10;
std::size_t g_cursor = 0;
// The id of the entry the walk handed out last, while the snapshot is open
// and the walk has not reached its end; 0 otherwise.
std::uint32_t g_handedOut = 0;

// Logs a platform call; true when it is the one that is to fail.
bool Log(const std::string& line) {
  g_system.calls.push_back(line);
  return static_cast<int>(g_system.calls.size()) == g_system.failAt;
}

// Handles in the log read as what they stand for, so tests need not know values.
std::string Describe(Handle handle) {
  if (handle == kSnapshotHandle) return "snapshot";
  if (handle == kInvalidHandleValue) return "invalid";
  return "process " + std::to_string(handle >> 8);
}

int Fill(Handle snapshot, ProcessEntry* entry, const char* call) {
  if (Log(std::string(call) + " dwSize=" + std::to_string(entry->dwSize))) {
    SetError(8);
    return 0;
  }
  if (snapshot != kSnapshotHandle || g_open.count(snapshot) == 0) {
    SetError(6);
    return 0;
  }
  if (entry->dwSize != g_system.entrySize) {
    SetError(24);
    return 0;
  }
  if (g_cursor >= g_system.processes.size()) {
    g_handedOut = 0;
    SetError(kNoMoreEntries);
    return 0;
  }
  const FakeProcess& process = g_system.processes[g_cursor++];
  entry->th32ProcessID = process.pid;
  g_handedOut = process.pid;
  bool exact = true;
  const std::string listed =
      process.imageName.empty() ? Render(process.trueName, g_system.codePage, &exact) : process.imageName;
  std::memset(entry->szExeFile, 0, sizeof entry->szExeFile);
  std::strncpy(entry->szExeFile, listed.c_str(), sizeof entry->szExeFile - 1);
  g_system.delivered.push_back(process.pid);
  return 1;
}

Handle CreateSnapshot(std::uint32_t flags, std::uint32_t processId) {
  const bool fails = Log("CreateToolhelp32Snapshot " + std::to_string(flags) + " " + std::to_string(processId));
  if (g_system.snapshotFails || fails) {
    SetError(fails ? 8 : 31, fails ? nullptr : g_system.snapshotErrorText);
    return kInvalidHandleValue;
  }
  g_open.insert(kSnapshotHandle);
  g_system.opened.push_back(kSnapshotHandle);
  ++g_system.openHandles;
  g_cursor = 0;
  g_handedOut = 0;
  return kSnapshotHandle;
}

int First(Handle snapshot, ProcessEntry* entry) {
  g_cursor = 0;
  return Fill(snapshot, entry, "Process32First");
}

int Next(Handle snapshot, ProcessEntry* entry) { return Fill(snapshot, entry, "Process32Next"); }

const FakeProcess* Find(std::uint32_t pid) {
  const auto& processes = g_system.processes;
  const auto it = std::find_if(processes.begin(), processes.end(),
                               [pid](const FakeProcess& process) { return process.pid == pid; });
  return it == processes.end() ? nullptr : &*it;
}

// One character: its bytes in the code page and whether they are exact.
std::string RenderCharacter(std::uint32_t c, int codePage, bool* exact) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  const bool shiftJis = codePage == 932;
  if (c >= 0xFF01 && c <= 0xFF5E) {  // fullwidth forms: two bytes of their own in 932
    if (shiftJis && c >= 0xFF21 && c <= 0xFF3A) return {'\x82', static_cast<char>(0x60 + c - 0xFF21)};
    if (shiftJis && c >= 0xFF41 && c <= 0xFF5A) return {'\x82', static_cast<char>(0x81 + c - 0xFF41)};
    *exact = false;
    return std::string(1, static_cast<char>(c - 0xFEE0));
  }
  if (c == 0x0100 || c == 0x0101) {  // A with macron
    *exact = false;
    return c == 0x0100 ? "A" : "a";
  }
  if (c == 0x00A5) {  // the yen sign: a byte of its own in 1252, best fit to "\" in 932
    if (codePage == 0) return "\xA5";
    *exact = false;
    return "\\";
  }
  if (c == 0x00E9 && codePage == 0) return "\xE9";
  if (shiftJis && c == 0x30BD) return "\x83\x5C";  // katakana so
  if (shiftJis && c == 0x8868) return "\x95\x5C";  // the kanji for "table"
  *exact = false;
  return "?";
}

}  // namespace

std::string Render(const std::string& utf8, int codePage, bool* exact) {
  std::string rendered;
  *exact = true;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    rendered += RenderCharacter(c, codePage, exact);
    i += length;
  }
  return rendered;
}

FakeSystem& System() { return g_system; }

int FailureValues(const std::string& call) {
  if (call == "BindProcessApi") return 3;  // each entry point missing
  if (call == "OpenProcess") return 2;     // null, INVALID_HANDLE_VALUE
  if (call == "CompareListedName") return 2;  // another process, a look-alike
  return 1;
}

void Reset() {
  g_system = FakeSystem{};
  SetError(0);
  g_open.clear();
  g_nextHandle = 0x100;
  g_cursor = 0;
  g_handedOut = 0;
}

bool IsShiftJisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

bool IsBig5LeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

}  // namespace fake

using fake::g_system;

const char* GetCommandLineA() { return nullptr; }

bool CommandLineIsExact() { return true; }

std::uint32_t GetACP() { return g_system.codePage == 0 ? 1252 : static_cast<std::uint32_t>(g_system.codePage); }

bool SlashIntroducesSwitches() { return g_system.slashSwitches; }

bool TestSwitchNeedsTarget() { return g_system.testSwitchNeedsTarget; }

bool WindowsPaths() { return g_system.windowsPaths; }

bool IsDBCSLeadByte(unsigned char byte) {
  switch (g_system.codePage) {
    case 932: return fake::IsShiftJisLeadByte(byte);
    case 936: return fake::IsGbkLeadByte(byte);
    case 950: return fake::IsBig5LeadByte(byte);
    default: return false;
  }
}

bool StandardOutputIsCharacterDevice() { return false; }

ProcessApi BindProcessApi() {
  if (fake::Log("BindProcessApi")) g_system.missing[g_system.failVariant] = true;
  ProcessApi api;
  if (!g_system.missing[0]) api.CreateToolhelp32Snapshot = fake::CreateSnapshot;
  if (!g_system.missing[1]) api.Process32First = fake::First;
  if (!g_system.missing[2]) api.Process32Next = fake::Next;
  return api;
}

std::uint32_t ProcessEntrySize() { return g_system.entrySize; }

std::uint32_t GetCurrentProcessId() { return g_system.ownPid; }

Handle OpenProcess(std::uint32_t desiredAccess, int inheritHandle, std::uint32_t processId) {
  if (fake::Log("OpenProcess " + std::to_string(desiredAccess) + " " + std::to_string(inheritHandle) + " " +
                std::to_string(processId))) {
    fake::SetError(g_system.failVariant == 0 ? 5 : 6);
    return g_system.failVariant == 0 ? kNullHandle : kInvalidHandleValue;
  }
  // What every backend opens: the entry handed out last, or the program itself.
  const bool openable = processId == g_system.ownPid || (processId != 0 && processId == fake::g_handedOut);
  const fake::FakeProcess* process = fake::Find(processId);
  if (!openable || process == nullptr) {
    fake::SetError(87);
    return kNullHandle;
  }
  if (process->openError != 0) {
    fake::SetError(process->openError, process->openErrorText);
    return kNullHandle;
  }
  // The handle value carries the pid, so that a later call can find it.
  const Handle handle = (static_cast<Handle>(processId) << 8) | (fake::g_nextHandle++ & 0xFF);
  fake::g_open.insert(handle);
  g_system.opened.push_back(handle);
  ++g_system.openHandles;
  return handle;
}

int TerminateProcess(Handle process, std::uint32_t exitCode) {
  if (fake::Log("TerminateProcess " + fake::Describe(process) + " " + std::to_string(exitCode))) {
    fake::SetError(5);
    return 0;
  }
  if (fake::g_open.count(process) == 0) {
    fake::SetError(6);
    return 0;
  }
  const fake::FakeProcess* target = fake::Find(static_cast<std::uint32_t>(process >> 8));
  if (target->terminateError != 0) {
    fake::SetError(target->terminateError);
    return 0;
  }
  g_system.terminated.push_back(target->pid);
  return 1;
}

int CloseHandle(Handle handle) {
  const bool fails = fake::Log("CloseHandle " + fake::Describe(handle));
  g_system.closed.push_back(handle);
  if (fake::g_open.erase(handle) == 0) {
    ++g_system.closeErrors;
    fake::SetError(6);
    return 0;
  }
  --g_system.openHandles;
  if (handle == fake::kSnapshotHandle) fake::g_handedOut = 0;
  if (fails) {  // closed all the same, as Windows does with a handle it reports it could not close
    fake::SetError(6);
    return 0;
  }
  return 1;
}

void WaitForProcesses(const Handle* processes, std::size_t count, std::uint32_t milliseconds,
                      bool* ended) {
  const bool fails = fake::Log("WaitForProcesses " + std::to_string(count) + " " + std::to_string(milliseconds));
  ++g_system.waits;
  if (g_system.unreadByWait != nullptr) g_system.unreadText = g_system.unreadByWait;
  for (std::size_t i = 0; i < count; ++i) {
    if (fails) {  // the wait failed: nothing is known to have ended
      ended[i] = false;
      continue;
    }
    const fake::FakeProcess* process = fake::Find(static_cast<std::uint32_t>(processes[i] >> 8));
    ended[i] = fake::g_open.count(processes[i]) == 0 || process == nullptr || !process->keepsEnding;
  }
}

// As on Windows: the true name rendered with best fit must be the listed
// name (an id that changed hands bears another), and exact to be the same.
NameMatch CompareListedName(Handle process, std::uint32_t processId, const char* listedName) {
  if (fake::Log("CompareListedName " + (process == kNullHandle ? std::string("id") : fake::Describe(process)) + " " +
                std::to_string(processId))) {
    if (g_system.failVariant == 1) {
      g_system.lookAlikes.push_back(processId);
      return NameMatch::LookAlike;
    }
    fake::SetError(87);
    return NameMatch::Other;
  }
  const fake::FakeProcess* target = fake::Find(processId);
  if (target == nullptr || target->trueName.empty()) return NameMatch::Exact;
  bool exact = true;
  std::string rendered = fake::Render(target->trueName, g_system.codePage, &exact);
  std::string listed = listedName;
  if (UpperCaseAscii(rendered.data(), IsDBCSLeadByte) != std::string(UpperCaseAscii(listed.data(), IsDBCSLeadByte))) {
    fake::SetError(87);
    return NameMatch::Other;
  }
  if (exact) return NameMatch::Exact;
  g_system.lookAlikes.push_back(processId);
  return NameMatch::LookAlike;
}

std::uint32_t GetLastError() { return fake::g_lastError; }

const char* DescribeLastError() { return fake::g_lastErrorText; }

const char* DescribeHiddenProcesses() { return fake::g_system.hiddenText; }

const char* DescribeUnreadProcesses() { return fake::g_system.unreadText; }

char* ShowableName(char* text) { return text; }

char* CharUpperA(char* text) { return UpperCaseAscii(text, IsDBCSLeadByte); }

char* lstrcpyA(char* destination, const char* source) { return std::strcpy(destination, source); }

}  // namespace stopex
