// The Linux backend's plain system facts: arguments come split, texts are
// single-byte, upper-casing knows only ASCII.
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/ascii_text.h"
#include "platform/process_api.h"

namespace stopex {

const char* GetCommandLineA() { return nullptr; }

bool IsDBCSLeadByte(unsigned char) { return false; }

bool StandardOutputIsCharacterDevice() {
  struct stat info {};
  return fstat(STDOUT_FILENO, &info) == 0 && S_ISCHR(info.st_mode);
}

char* CharUpperA(char* text) { return AsciiUpper(text); }

char* lstrcpyA(char* destination, const char* source) { return std::strcpy(destination, source); }

}  // namespace stopex
