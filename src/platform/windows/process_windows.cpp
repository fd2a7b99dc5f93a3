// The Windows backend: the kernel and user library calls themselves. The
// snapshot functions are bound by name at run time, never imported. Process
// handles and their waits are in process_handles.cpp.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <io.h>

#include "platform/process_api.h"
#include "platform/windows/native_handle.h"

#if !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32) == 296, "the single-byte process entry of 32-bit Windows");
#endif

namespace stopex {
namespace {

using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using WalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);

CreateSnapshotFn g_createSnapshot = nullptr;
WalkFn g_first = nullptr;
WalkFn g_next = nullptr;

using windows_backend::FromNative;
using windows_backend::ToNative;

Handle CreateSnapshot(std::uint32_t flags, std::uint32_t processId) {
  return FromNative(g_createSnapshot(flags, processId));
}

// The native record lives beside the portable one; only the fields the
// program reads are carried across.
int FillEntry(WalkFn fn, Handle snapshot, ProcessEntry* entry) {
  PROCESSENTRY32 native;
  std::memset(&native, 0, sizeof native);
  native.dwSize = entry->dwSize;
  if (fn(ToNative(snapshot), &native) == FALSE) return 0;
  entry->th32ProcessID = native.th32ProcessID;
  static_assert(sizeof entry->szExeFile == sizeof native.szExeFile, "image-name fields");
  std::memcpy(entry->szExeFile, native.szExeFile, sizeof entry->szExeFile);
  entry->szExeFile[sizeof entry->szExeFile - 1] = '\0';
  return 1;
}

int First(Handle snapshot, ProcessEntry* entry) { return FillEntry(g_first, snapshot, entry); }
int Next(Handle snapshot, ProcessEntry* entry) { return FillEntry(g_next, snapshot, entry); }

}  // namespace

bool IsDBCSLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

bool StandardOutputIsCharacterDevice() { return _isatty(_fileno(stdout)) != 0; }

ProcessApi BindProcessApi() {
  ProcessApi api;
  HMODULE kernel = ::GetModuleHandleA("KERNEL32.DLL");
  if (kernel == nullptr) return api;
  // GetProcAddress hands back a generic function pointer; each is cast to
  // the signature the name is documented with.
  g_createSnapshot = reinterpret_cast<CreateSnapshotFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
  g_first = reinterpret_cast<WalkFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "Process32First")));
  g_next = reinterpret_cast<WalkFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "Process32Next")));
  if (g_createSnapshot != nullptr) api.CreateToolhelp32Snapshot = CreateSnapshot;
  if (g_first != nullptr) api.Process32First = First;
  if (g_next != nullptr) api.Process32Next = Next;
  return api;
}

std::uint32_t ProcessEntrySize() { return sizeof(PROCESSENTRY32); }

std::uint32_t GetCurrentProcessId() { return ::GetCurrentProcessId(); }

std::uint32_t GetLastError() { return ::GetLastError(); }

// Windows says all in its error codes.
const char* DescribeLastError() { return nullptr; }

// The process snapshot lists every process to every user.
const char* DescribeHiddenProcesses() { return nullptr; }

// A snapshot holds every process, or could not be taken.
const char* DescribeUnreadProcesses() { return nullptr; }

char* ShowableName(char* text) { return text; }

char* CharUpperA(char* text) { return ::CharUpperA(text); }

char* lstrcpyA(char* destination, const char* source) { return ::lstrcpyA(destination, source); }

}  // namespace stopex
