// The Linux backend's plain system facts: arguments come split, switches
// begin with "-" alone, texts are bytes with no code page to render them in,
// upper-casing knows only ASCII.
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/ascii_case.h"
#include "platform/linux/shown_name.h"
#include "platform/process_api.h"

namespace stopex {

const char* GetCommandLineA() { return nullptr; }

bool CommandLineIsExact() { return true; }

std::uint32_t GetACP() { return 0; }

// Every absolute path begins with "/": only "-" introduces a switch.
bool SlashIntroducesSwitches() { return false; }

// "stopex $name -t" with an empty $name is a mistake, never a test.
bool TestSwitchNeedsTarget() { return true; }

bool WindowsPaths() { return false; }

bool IsDBCSLeadByte(unsigned char) { return false; }

// A name is the bytes the kernel holds, never a rendering of them; the
// process the snapshot saw is made sure of when it is opened.
NameMatch CompareListedName(Handle, std::uint32_t, const char*) { return NameMatch::Exact; }

char* ShowableName(char* text) {
  ShowAsName(text, LocaleCharset());
  return text;
}

bool StandardOutputIsCharacterDevice() {
  struct stat info {};
  return fstat(STDOUT_FILENO, &info) == 0 && S_ISCHR(info.st_mode);
}

// Names are bytes of no known code page: only ASCII letters have a case.
char* CharUpperA(char* text) { return UpperCaseAscii(text, IsDBCSLeadByte); }

char* lstrcpyA(char* destination, const char* source) { return std::strcpy(destination, source); }

}  // namespace stopex
