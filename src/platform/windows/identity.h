// The Windows backend's Unicode view of a process: the name the system holds
// for it, which the single-byte snapshot record renders with best fit.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace stopex::windows_backend {

// The file name (last path component) the system holds for the process: read
// through the handle where it allows it, else from a Unicode snapshot entry
// of the id. False when neither can be had.
bool TrueName(HANDLE process, std::uint32_t processId, wchar_t* name, std::size_t size);

}  // namespace stopex::windows_backend
