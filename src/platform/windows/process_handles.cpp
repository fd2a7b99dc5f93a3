// The Windows backend's process handles: opening by id with the identity
// guard, terminating, closing, and waiting for terminated processes to end.
#include <windows.h>

#include "platform/process_api.h"
#include "platform/windows/identity.h"
#include "platform/windows/native_handle.h"

#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif

namespace stopex {

using windows_backend::FromNative;
using windows_backend::ToNative;

// The process is opened with the access asked for plus the right to query
// its image name (for the identity guard) and to wait for it; where the
// system refuses either, with less, and at last exactly as asked.
Handle OpenProcess(std::uint32_t desiredAccess, int inheritHandle, std::uint32_t processId) {
  using windows_backend::Identity;
  const DWORD tries[] = {desiredAccess | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                         desiredAccess | SYNCHRONIZE, desiredAccess};
  HANDLE process = nullptr;
  DWORD granted = 0;
  for (DWORD access : tries) {
    process = ::OpenProcess(access, inheritHandle, processId);
    if (process != nullptr) {
      granted = access;
      break;
    }
  }
  if (process == nullptr) return kNullHandle;  // the last error is that of the plain open

  // The handle pins the process, so its id cannot change hands any more. If
  // the id already has, since the snapshot was taken, the process bears
  // another name: it is not the one that was listed.
  const char* listed = windows_backend::ListedName(processId);
  if (listed != nullptr && (granted & PROCESS_QUERY_LIMITED_INFORMATION) != 0 &&
      windows_backend::CompareImage(process, listed) == Identity::Other) {
    ::CloseHandle(process);
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return kNullHandle;
  }
  return FromNative(process);
}

int TerminateProcess(Handle process, std::uint32_t exitCode) {
  return ::TerminateProcess(ToNative(process), exitCode) != FALSE ? 1 : 0;
}

int CloseHandle(Handle handle) { return ::CloseHandle(ToNative(handle)) != FALSE ? 1 : 0; }

// Processes that have ended are passed over at once; the rest are waited for
// together, in groups of as many as one wait takes, until the time is up. A
// handle that may not be waited for (opened without SYNCHRONIZE) counts as
// ended: there is nothing to wait with.
void WaitForProcesses(const Handle* processes, std::size_t count, std::uint32_t milliseconds,
                      bool* ended) {
  const DWORD start = ::GetTickCount();
  HANDLE group[MAXIMUM_WAIT_OBJECTS];
  std::size_t member[MAXIMUM_WAIT_OBJECTS];
  for (std::size_t i = 0; i < count;) {
    DWORD size = 0;
    for (; i < count && size < MAXIMUM_WAIT_OBJECTS; ++i) {
      ended[i] = ::WaitForSingleObject(ToNative(processes[i]), 0) != WAIT_TIMEOUT;
      if (!ended[i]) {
        group[size] = ToNative(processes[i]);
        member[size++] = i;
      }
    }
    if (size == 0) continue;
    const DWORD elapsed = ::GetTickCount() - start;
    const DWORD left = elapsed < milliseconds ? milliseconds - elapsed : 0;
    const DWORD woken = ::WaitForMultipleObjects(size, group, TRUE, left);
    for (DWORD k = 0; k < size; ++k) {
      ended[member[k]] = woken - WAIT_OBJECT_0 < size || ::WaitForSingleObject(group[k], 0) == WAIT_OBJECT_0;
    }
  }
}

}  // namespace stopex
