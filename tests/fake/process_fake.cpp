#include "fake/process_fake.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "platform/ascii_text.h"

namespace stopex {
namespace fake {
namespace {

FakeSystem g_system;
std::uint32_t g_lastError = 0;
std::set<Handle> g_open;
Handle g_nextHandle = 0x100;
constexpr Handle kSnapshotHandle = 0x10;
std::size_t g_cursor = 0;

void Log(const std::string& line) { g_system.calls.push_back(line); }

// Handles in the log read as what they stand for, so tests need not know values.
std::string Describe(Handle handle) {
  if (handle == kSnapshotHandle) return "snapshot";
  if (handle == kInvalidHandleValue) return "invalid";
  return "process " + std::to_string(handle >> 8);
}

int Fill(Handle snapshot, ProcessEntry* entry, const char* call) {
  Log(std::string(call) + " dwSize=" + std::to_string(entry->dwSize));
  if (snapshot != kSnapshotHandle || g_open.count(snapshot) == 0) return 0;
  if (entry->dwSize != g_system.entrySize) return 0;
  if (g_cursor >= g_system.processes.size()) return 0;
  const FakeProcess& process = g_system.processes[g_cursor++];
  entry->th32ProcessID = process.pid;
  std::memset(entry->szExeFile, 0, sizeof entry->szExeFile);
  std::strncpy(entry->szExeFile, process.imageName.c_str(), sizeof entry->szExeFile - 1);
  return 1;
}

Handle CreateSnapshot(std::uint32_t flags, std::uint32_t processId) {
  Log("CreateToolhelp32Snapshot " + std::to_string(flags) + " " + std::to_string(processId));
  if (g_system.snapshotFails) return kInvalidHandleValue;
  g_open.insert(kSnapshotHandle);
  ++g_system.openHandles;
  g_cursor = 0;
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

}  // namespace

FakeSystem& System() { return g_system; }

void Reset() {
  g_system = FakeSystem{};
  g_lastError = 0;
  g_open.clear();
  g_nextHandle = 0x100;
  g_cursor = 0;
}

bool IsShiftJisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

bool IsBig5LeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

}  // namespace fake

using fake::g_system;

const char* GetCommandLineA() { return nullptr; }

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
  fake::Log("BindProcessApi");
  ProcessApi api;
  if (!g_system.missing[0]) api.CreateToolhelp32Snapshot = fake::CreateSnapshot;
  if (!g_system.missing[1]) api.Process32First = fake::First;
  if (!g_system.missing[2]) api.Process32Next = fake::Next;
  return api;
}

std::uint32_t ProcessEntrySize() { return g_system.entrySize; }

std::uint32_t GetCurrentProcessId() { return g_system.ownPid; }

Handle OpenProcess(std::uint32_t desiredAccess, int inheritHandle, std::uint32_t processId) {
  fake::Log("OpenProcess " + std::to_string(desiredAccess) + " " + std::to_string(inheritHandle) +
            " " + std::to_string(processId));
  const fake::FakeProcess* process = fake::Find(processId);
  if (process == nullptr) {
    fake::g_lastError = 87;
    return kNullHandle;
  }
  if (process->openError != 0) {
    fake::g_lastError = process->openError;
    return kNullHandle;
  }
  // The identity guard: the id now belongs to a process of another name.
  if (!process->runningImage.empty() && process->runningImage != process->imageName) {
    fake::g_lastError = 87;
    return kNullHandle;
  }
  // The handle value carries the pid, so that a later call can find it.
  const Handle handle = (static_cast<Handle>(processId) << 8) | (fake::g_nextHandle++ & 0xFF);
  fake::g_open.insert(handle);
  ++g_system.openHandles;
  return handle;
}

int TerminateProcess(Handle process, std::uint32_t exitCode) {
  fake::Log("TerminateProcess " + fake::Describe(process) + " " + std::to_string(exitCode));
  if (fake::g_open.count(process) == 0) {
    fake::g_lastError = 6;
    return 0;
  }
  const fake::FakeProcess* target = fake::Find(static_cast<std::uint32_t>(process >> 8));
  if (target->terminateError != 0) {
    fake::g_lastError = target->terminateError;
    return 0;
  }
  g_system.terminated.push_back(target->pid);
  return 1;
}

int CloseHandle(Handle handle) {
  fake::Log("CloseHandle " + fake::Describe(handle));
  if (fake::g_open.erase(handle) == 0) {
    ++g_system.closeErrors;
    fake::g_lastError = 6;
    return 0;
  }
  --g_system.openHandles;
  return 1;
}

void WaitForProcesses(const Handle* processes, std::size_t count, std::uint32_t milliseconds,
                      bool* ended) {
  fake::Log("WaitForProcesses " + std::to_string(count) + " " + std::to_string(milliseconds));
  ++g_system.waits;
  for (std::size_t i = 0; i < count; ++i) {
    const fake::FakeProcess* process = fake::Find(static_cast<std::uint32_t>(processes[i] >> 8));
    ended[i] = fake::g_open.count(processes[i]) == 0 || process == nullptr || !process->keepsEnding;
  }
}

std::uint32_t GetLastError() { return fake::g_lastError; }

char* CharUpperA(char* text) { return AsciiUpper(text, IsDBCSLeadByte); }

char* lstrcpyA(char* destination, const char* source) { return std::strcpy(destination, source); }

}  // namespace stopex
