// The Windows backend's guard against a reused process id: before a process
// opened by id is terminated, it must still bear the image name that the
// snapshot listed for that id.
#pragma once

#include <windows.h>

#include <cstdint>

namespace stopex::windows_backend {

// Remembers the entry the walk handed out last: kill mode opens a match
// right after its entry, so that is the name the id must still bear.
void RememberListed(std::uint32_t processId, const char* imageName);

// The name the snapshot listed for this id, when it is the entry remembered
// last; null otherwise.
const char* ListedName(std::uint32_t processId);

enum class Identity { Same, Other, Unknown };

// Whether the process behind the handle (opened with query access) runs the
// image the listed name names: the last components of both are compared
// without regard to case. Unknown where the system cannot tell (no
// QueryFullProcessImageNameA, or the call fails).
Identity CompareImage(HANDLE process, const char* listedName);

}  // namespace stopex::windows_backend
