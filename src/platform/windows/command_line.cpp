// The Windows backend's command line. The system keeps it in Unicode; its
// single-byte form renders look-alike characters with best fit (a fullwidth
// letter as the plain one), so the arguments are rendered here exactly, or
// found not to be renderable, and never acted on in a look-alike form.
#include <windows.h>

#include "platform/process_api.h"
#include "platform/program_name.h"

#ifndef WC_ERR_INVALID_CHARS
#define WC_ERR_INVALID_CHARS 0x80
#endif

namespace stopex {
namespace {

bool g_prepared = false;
bool g_exact = true;
const char* g_line = nullptr;

// A command line holds at most 32767 UTF-16 units, and no unit takes more
// than three bytes in any ANSI code page (a surrogate pair four for two).
// Two more for the empty program-name token and one for the terminator.
char g_rendered[3 * 32768 + 3];

// Only the arguments count: a program path that the code page cannot hold
// (a user folder in fullwidth letters) must not stop the program. They are
// rendered behind an empty quoted token, which the splitter skips as the
// program name, so that what touched the real token still begins argument 1.
void RenderCommandLine() {
  if (g_prepared) return;
  g_prepared = true;
  g_line = ::GetCommandLineA();
  const wchar_t* wide = ::GetCommandLineW();
  if (wide == nullptr) return;
  // Each UTF-16 unit steps alone, as the splitter's single bytes do.
  const wchar_t* arguments = SkipProgramName(wide, [](const wchar_t*) { return 1; });
  const UINT codePage = ::GetACP();
  const bool utf8 = codePage == CP_UTF8;
  BOOL usedDefault = FALSE;
  g_rendered[0] = '"';
  g_rendered[1] = '"';
  const int written = ::WideCharToMultiByte(codePage, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, arguments,
                                            -1, g_rendered + 2, sizeof g_rendered - 2, nullptr,
                                            utf8 ? nullptr : &usedDefault);
  if (written == 0 || usedDefault != FALSE) {
    g_exact = false;
    return;
  }
  g_line = g_rendered;
}

}  // namespace

const char* GetCommandLineA() {
  RenderCommandLine();
  return g_line;
}

bool CommandLineIsExact() {
  RenderCommandLine();
  return g_exact;
}

std::uint32_t GetACP() { return ::GetACP(); }

// Scripts write switches with "/" as with "-"; paths are written with "\".
bool SlashIntroducesSwitches() { return true; }

// A test without a target succeeds with status 0: batch files may rely on it.
bool TestSwitchNeedsTarget() { return false; }

bool WindowsPaths() { return true; }

}  // namespace stopex
