// Linux-only setting of the /proc backend, for its tests.
#pragma once

namespace stopex {

// Where the backend reads the process list; "/proc" unless a test points it
// at a fabricated tree. The text must outlive every later call.
void SetProcRoot(const char* root);

// Makes the backend behave, from the next /proc root it opens, as under a
// filter that refuses openat2: every file is looked at before it is opened.
void SetOpenat2Refused(bool refused);

}  // namespace stopex
