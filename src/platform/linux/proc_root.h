// Linux-only setting of the /proc backend, for its tests.
#pragma once

namespace stopex {

// Where the backend reads the process list; "/proc" unless a test points it
// at a fabricated tree. The text must outlive every later call.
void SetProcRoot(const char* root);

}  // namespace stopex
