// The Windows backend's identity check: whether the name a snapshot entry
// listed is the process's own name, a best-fit look-alike of it, or the name
// of another process that took over the id.
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "platform/process_api.h"
#include "platform/windows/native_handle.h"

#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif
#ifndef WC_ERR_INVALID_CHARS
#define WC_ERR_INVALID_CHARS 0x80
#endif

namespace stopex {
namespace {

using QueryImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using WalkWideFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);

// Bound by name on first use, since older systems lack them. (Plain
// variables, not guarded local statics, which would bring in the C++
// runtime's locking.)
struct WideFunctions {
  QueryImageNameFn query = nullptr;
  CreateSnapshotFn snapshot = nullptr;
  WalkWideFn first = nullptr;
  WalkWideFn next = nullptr;
};
bool g_bound = false;
WideFunctions g_wide;

template <typename Fn>
Fn Bound(HMODULE kernel, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)));
}

const WideFunctions& Wide() {
  if (!g_bound) {
    const HMODULE kernel = ::GetModuleHandleA("KERNEL32.DLL");
    if (kernel != nullptr) {
      g_wide.query = Bound<QueryImageNameFn>(kernel, "QueryFullProcessImageNameW");
      g_wide.snapshot = Bound<CreateSnapshotFn>(kernel, "CreateToolhelp32Snapshot");
      g_wide.first = Bound<WalkWideFn>(kernel, "Process32FirstW");
      g_wide.next = Bound<WalkWideFn>(kernel, "Process32NextW");
    }
    g_bound = true;
  }
  return g_wide;
}

bool CopyLastComponent(const wchar_t* path, wchar_t* name, std::size_t size) {
  const wchar_t* component = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
    if (*p == L'\\') component = p + 1;
  }
  const std::size_t length = ::lstrlenW(component);
  if (length + 1 > size) return false;
  std::memcpy(name, component, (length + 1) * sizeof(wchar_t));
  return true;
}

// A longer image path (a long-path folder) fails with a short buffer, and
// the name is then taken from the snapshot.
bool NameThroughHandle(HANDLE process, wchar_t* name, std::size_t size) {
  const WideFunctions& wide = Wide();
  wchar_t path[4 * MAX_PATH];
  DWORD length = sizeof path / sizeof path[0];
  return wide.query != nullptr && wide.query(process, 0, path, &length) != FALSE &&
         CopyLastComponent(path, name, size);
}

bool NameFromSnapshot(std::uint32_t processId, wchar_t* name, std::size_t size) {
  const WideFunctions& wide = Wide();
  if (wide.snapshot == nullptr || wide.first == nullptr || wide.next == nullptr) return false;
  const HANDLE snapshot = wide.snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = wide.first(snapshot, &entry); more != FALSE && !found; more = wide.next(snapshot, &entry)) {
    found = entry.th32ProcessID == processId && CopyLastComponent(entry.szExeFile, name, size);
  }
  ::CloseHandle(snapshot);
  return found;
}

// The file name (last path component) the system holds for the process: read
// through the handle where it allows it, else from a Unicode snapshot entry
// of the id. False when neither can be had.
bool TrueName(HANDLE process, std::uint32_t processId, wchar_t* name, std::size_t size) {
  if (process != nullptr) return NameThroughHandle(process, name, size) || NameFromSnapshot(processId, name, size);
  const HANDLE queried = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  const bool read = queried != nullptr && NameThroughHandle(queried, name, size);
  if (queried != nullptr) ::CloseHandle(queried);
  return read || NameFromSnapshot(processId, name, size);
}

// Upper-cased copies compared: the listed name may already have been
// upper-cased in place by the walk.
bool SameText(const char* a, const char* b) {
  char left[4 * MAX_PATH];
  char right[4 * MAX_PATH];
  if (::lstrlenA(a) >= static_cast<int>(sizeof left) || ::lstrlenA(b) >= static_cast<int>(sizeof right)) return false;
  ::lstrcpyA(left, a);
  ::lstrcpyA(right, b);
  return std::strcmp(::CharUpperA(left), ::CharUpperA(right)) == 0;
}

// The rendering of the true name is the listed name, or, where the snapshot
// lists full paths, its last component (past the last "\" that is a
// character of its own). A listed name that fills the record is the start
// of a longer rendering.
bool NamesSame(const char* listed, const char* rendered) {
  if (SameText(listed, rendered)) return true;
  const std::size_t length = std::strlen(listed);
  if (length == kExeFileSize - 1 && std::strlen(rendered) > length) {
    char start[kExeFileSize];
    std::memcpy(start, rendered, length);
    start[length] = '\0';
    if (SameText(listed, start)) return true;
  }
  const char* component = listed;
  for (const char* p = listed; *p != '\0'; p = ::CharNextA(p)) {
    if (*p == '\\') component = p + 1;
  }
  return component != listed && SameText(component, rendered);
}

}  // namespace

NameMatch CompareListedName(Handle process, std::uint32_t processId, const char* listedName) {
  wchar_t name[MAX_PATH];
  if (!TrueName(windows_backend::ToNative(process), processId, name, MAX_PATH)) {
    return NameMatch::Exact;
  }
  // The single-byte snapshot record renders the name with best fit; an exact
  // rendering needs no default character (in UTF-8: no unpaired surrogate).
  const UINT codePage = ::GetACP();
  char rendered[4 * MAX_PATH];
  char exact[4 * MAX_PATH];
  if (::WideCharToMultiByte(codePage, 0, name, -1, rendered, sizeof rendered, nullptr, nullptr) == 0) {
    return NameMatch::Exact;
  }
  BOOL usedDefault = FALSE;
  const bool utf8 = codePage == CP_UTF8;
  const int written = ::WideCharToMultiByte(codePage, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, name, -1,
                                            exact, sizeof exact, nullptr, utf8 ? nullptr : &usedDefault);
  if (!NamesSame(listedName, rendered)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return NameMatch::Other;
  }
  const bool isExact = written != 0 && usedDefault == FALSE && std::strcmp(exact, rendered) == 0;
  return isExact ? NameMatch::Exact : NameMatch::LookAlike;
}

}  // namespace stopex
