// The usage text, and how it is shown: on a stream, or on standard error as the run ends.
#include "cli/usage.h"

#include <cstdlib>

#include "platform/exit_status.h"

namespace stopex {
namespace {

const char kUsageText[] =
    "stopex          shows the exes running.      (Mar 16 2011)\n"
    "stopex ?        this.\n"
    "stopex x.exe    stops x.exe; if successful, says so.\n"
    "stopex x.exe -t \"test\"; if x.exe running, errorlevel 0, else 1. -ts shut-up\n"
    "                        about it.\n"
    "I got this from the web, don't remember where, and I guess the guy didn't want\n"
    "to get sued when this infallibly destroys your hard drive, so he remains\n"
    "anonymous, so I guess I will too.\n";

}  // namespace

void WriteUsage(std::FILE* err) { std::fputs(kUsageText, err); }

void ShowUsage() {
  WriteUsage(stderr);
  std::exit(kExitUsage);  // exit flushes every stream
}

}  // namespace stopex
