// The Windows backend's process handles: opening by id, terminating,
// closing, and waiting for terminated processes to end.
#include <windows.h>

#include "platform/process_api.h"
#include "platform/windows/native_handle.h"

#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif

namespace stopex {

using windows_backend::FromNative;
using windows_backend::ToNative;

// The process is opened with the access asked for plus the right to query
// its image name (for the identity check) and to wait for it; where the
// system refuses either, with less, and at last exactly as asked.
Handle OpenProcess(std::uint32_t desiredAccess, int inheritHandle, std::uint32_t processId) {
  const DWORD tries[] = {desiredAccess | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                         desiredAccess | SYNCHRONIZE, desiredAccess};
  for (DWORD access : tries) {
    if (HANDLE process = ::OpenProcess(access, inheritHandle, processId)) return FromNative(process);
  }
  return kNullHandle;  // the last error is that of the plain open
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
