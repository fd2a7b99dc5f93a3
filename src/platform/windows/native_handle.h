// The portable handle and the system's HANDLE are the same value; these two
// turn one into the other.
#pragma once

#include <windows.h>

#include "platform/process_api.h"

namespace stopex::windows_backend {

inline HANDLE ToNative(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
inline Handle FromNative(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

}  // namespace stopex::windows_backend
