// Entry point: gathers the arguments, parses them and runs once.
#include <cstdio>
#include <cstring>

#include "cli/parse_command_line.h"
#include "cli/split_command_line.h"
#include "cli/usage.h"
#include "platform/exit_status.h"
#include "platform/memory.h"
#include "platform/process_api.h"
#include "run/report.h"
#include "run/run.h"

namespace {

// Standard error unbuffered; standard output unbuffered on a console or other
// character device, so that what is printed shows at once, and otherwise in a
// 512-byte buffer, written when full and at exit.
void ConfigureStandardStreams() {
  if (stopex::StandardOutputIsCharacterDevice()) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  } else {
    static char outputBuffer[512];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  }
  std::setvbuf(stderr, nullptr, _IONBF, 0);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace stopex;
  ConfigureStandardStreams();

  // An argument that the code page can render only as a look-alike (a
  // fullwidth "ｘ.exe" as "x.exe") names no process that the program could
  // tell apart: it is refused before anything else is looked at.
  if (!CommandLineIsExact()) {
    Say(stderr, "an argument cannot be written in this system's code page (", GetACP(), ")");
    return kExitUsage;
  }

  // Where the system hands over the raw command line, the program splits it
  // itself so that the rules do not depend on the runtime's startup code.
  // Argument 0 is never read, so it is left empty there.
  const char* const* args = argv;
  static const char* const kNoArguments[] = {""};
  if (argc < 1) {
    args = kNoArguments;
    argc = 1;
  }
  if (const char* raw = GetCommandLineA()) {
    auto* storage = static_cast<char*>(Resize(nullptr, std::strlen(raw) + 1, 1));
    auto* split = static_cast<const char**>(Resize(nullptr, ArgumentCapacity(raw) + 1, sizeof(char*)));
    split[0] = "";
    argc = static_cast<int>(SplitCommandLine(raw, IsDBCSLeadByte, storage, split + 1)) + 1;
    args = split;
  }

  RunOptions options;
  if (ParseCommandLine(argc, args, &options) != ParseResult::Ok) ShowUsage();
  return Run(options, stdout, stderr);
}
