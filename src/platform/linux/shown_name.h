// How the Linux backend shows a name: as bytes, but never one a terminal
// would act on, nor one that could be typed as another name.
#pragma once

namespace stopex {

// Shows a terminated name in place as it may be written: each character a
// terminal acts on (C0 controls, DEL, the C1 controls in UTF-8 or as a byte
// of no UTF-8 character) and each "/" becomes one "?", which no target may
// hold. Letters stay as they are, in UTF-8 or single bytes.
void ShowAsName(char* text);

}  // namespace stopex
