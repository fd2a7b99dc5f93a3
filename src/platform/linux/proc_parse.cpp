#include "platform/linux/proc_parse.h"

namespace stopex {
namespace {

// Fields counted from the first after the name, which is field 3.
constexpr int kStateIndex = 3 - 3;
constexpr int kFlagsIndex = 9 - 3;
constexpr int kStartTimeIndex = 22 - 3;

// Reads the unsigned decimal number at p; false when there is none or it
// does not fit.
bool ReadNumber(std::string_view line, std::size_t p, std::uint64_t* value) {
  std::uint64_t number = 0;
  std::size_t digits = 0;
  for (; p < line.size() && line[p] >= '0' && line[p] <= '9'; ++p, ++digits) {
    number = number * 10 + static_cast<std::uint64_t>(line[p] - '0');
  }
  if (digits == 0 || digits > 19) return false;
  *value = number;
  return true;
}

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ParseStatLine(std::string_view line, StatFields* fields) {
  const std::size_t open = line.find('(');
  const std::size_t close = line.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return false;
  }
  fields->name = line.substr(open + 1, close - open - 1);

  std::size_t p = close + 1;
  for (int field = 0;; ++field) {
    while (p < line.size() && line[p] == ' ') ++p;
    if (p >= line.size()) return false;
    if (field == kStateIndex) fields->state = line[p];
    if (field == kFlagsIndex && !ReadNumber(line, p, &fields->flags)) return false;
    if (field == kStartTimeIndex) return ReadNumber(line, p, &fields->startTime);
    while (p < line.size() && line[p] != ' ') ++p;
  }
}

std::string_view CompleteName(std::string_view kernelName, std::string_view cmdline,
                              std::string_view exePath) {
  if (kernelName.size() != kKernelNameMax) return kernelName;
  const std::string_view argv0 = cmdline.substr(0, cmdline.find('\0'));
  for (std::string_view candidate : {BaseName(argv0), BaseName(exePath)}) {
    if (candidate.size() > kernelName.size() && candidate.substr(0, kernelName.size()) == kernelName) {
      return candidate;
    }
  }
  return kernelName;
}

void StoreImageName(std::string_view name, char* field, std::size_t fieldSize) {
  const std::size_t length = name.size() < fieldSize - 1 ? name.size() : fieldSize - 1;
  for (std::size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    field[i] = (c < 0x20 || c == 0x7F) ? '?' : name[i];
  }
  field[length] = '\0';
}

}  // namespace stopex
