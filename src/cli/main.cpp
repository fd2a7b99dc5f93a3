// Entry point: gathers the arguments, parses them and runs once.
#include <string>
#include <vector>

#include "cli/run.h"
#include "cli/run_options.h"
#include "cli/split_command_line.h"
#include "cli/usage.h"
#include "process/process_api.h"

int main(int argc, char** argv) {
  using namespace stopex;
  ConfigureStandardStreams();

  // Where the system hands over the raw command line, the program splits it
  // itself so that the rules do not depend on the runtime's startup code.
  std::vector<std::string> split;
  std::vector<const char*> args;
  if (const char* raw = GetCommandLineA()) {
    split = SplitCommandLine(raw, IsDBCSLeadByte);
    args.push_back("");  // argument 0 is never read
    for (const std::string& arg : split) args.push_back(arg.c_str());
  } else {
    args.assign(argv, argv + argc);
    if (args.empty()) args.push_back("");
  }

  RunOptions options;
  if (ParseCommandLine(static_cast<int>(args.size()), args.data(), &options) != ParseResult::Ok) {
    ShowUsage();
  }
  return Run(options, stdout, stderr);
}
