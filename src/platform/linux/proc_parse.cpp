// The /proc parsers: numbers, fields and lines read from bytes, never from files.
#include "platform/linux/proc_parse.h"

#include <algorithm>

#include "platform/linux/shown_name.h"

namespace stopex {
namespace {

// Fields counted from the first after the name, which is field 3.
constexpr int kStateIndex = 3 - 3;
constexpr int kFlagsIndex = 9 - 3;
constexpr int kThreadsIndex = 20 - 3;
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

// The value of the line "Key:\t..." of a status file; false when there is none.
bool StatusValue(std::string_view text, std::string_view key, std::string_view* value) {
  for (std::size_t p = 0; p < text.size();) {
    std::size_t end = text.find('\n', p);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(p, end - p);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ':') {
      *value = line.substr(key.size() + 1);
      return true;
    }
    p = end + 1;
  }
  return false;
}

// Reads the ids, separated by tabs, of a status line into ids; how many
// there are, or 0 when the line holds anything else or more than fit.
std::size_t ReadIds(std::string_view value, std::uint32_t* ids, std::size_t most) {
  std::size_t count = 0;
  for (std::size_t p = 0;;) {
    while (p < value.size() && value[p] == '\t') ++p;
    if (p == value.size()) return count;
    std::uint64_t id = 0;
    if (count == most || !ReadNumber(value, p, &id) || id == 0 || id > 0xFFFFFFFFu) return 0;
    ids[count++] = static_cast<std::uint32_t>(id);
    while (p < value.size() && value[p] >= '0' && value[p] <= '9') ++p;
  }
}

// Whether the bit is set in a hexadecimal mask line ("CapEff:\t0000...").
bool MaskHasBit(std::string_view value, std::size_t bit) {
  const std::size_t start = value.find_first_not_of('\t');
  const std::string_view mask = start == std::string_view::npos ? std::string_view{} : value.substr(start);
  if (mask.empty() || mask.size() > 32 || mask.find_first_not_of("0123456789abcdef") != std::string_view::npos) {
    return false;
  }
  if (bit / 4 >= mask.size()) return false;
  const char digit = mask[mask.size() - 1 - bit / 4];
  const int nibble = digit <= '9' ? digit - '0' : digit - 'a' + 10;
  return ((nibble >> (bit % 4)) & 0x1) != 0;
}

// Splits a line at blanks into at most most words; how many there are.
std::size_t Words(std::string_view line, std::string_view* words, std::size_t most) {
  std::size_t count = 0;
  for (std::size_t p = 0; p < line.size() && count < most;) {
    const std::size_t end = std::min(line.find(' ', p), line.size());
    if (end > p) words[count++] = line.substr(p, end - p);
    p = end + 1;
  }
  return count;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// Whether a path as mountinfo writes it (blank, tab, newline and backslash
// as three octal digits after a backslash) is the path given.
bool SameEscapedPath(std::string_view escaped, std::string_view path) {
  std::size_t i = 0;
  for (std::size_t p = 0; p < escaped.size(); ++p, ++i) {
    char c = escaped[p];
    if (c == '\\' && p + 3 < escaped.size() && IsOctal(escaped[p + 1]) && IsOctal(escaped[p + 2]) &&
        IsOctal(escaped[p + 3])) {
      c = static_cast<char>((escaped[p + 1] - '0') * 64 + (escaped[p + 2] - '0') * 8 + (escaped[p + 3] - '0'));
      p += 3;
    }
    if (i >= path.size() || path[i] != c) return false;
  }
  return i == path.size();
}

}  // namespace

bool ParseStatLine(std::string_view line, StatFields* fields) {
  const std::size_t open = line.find(" (");
  const std::size_t close = line.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
      !ParseProcessId(line.substr(0, open), &fields->pid)) {
    return false;
  }
  fields->name = line.substr(open + 2, close - open - 2);

  std::size_t p = close + 1;
  for (int field = 0;; ++field) {
    while (p < line.size() && line[p] == ' ') ++p;
    if (p >= line.size()) return false;
    if (field == kStateIndex) fields->state = line[p];
    if (field == kFlagsIndex && !ReadNumber(line, p, &fields->flags)) return false;
    if (field == kThreadsIndex && !ReadNumber(line, p, &fields->threads)) return false;
    if (field == kStartTimeIndex) return ReadNumber(line, p, &fields->startTime);
    while (p < line.size() && line[p] != ' ') ++p;
  }
}

bool ParseProcessId(std::string_view text, std::uint32_t* pid) {
  std::uint64_t value = 0;
  if (text.empty() || text.size() > 10 || !ReadNumber(text, 0, &value)) return false;
  if (text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  if (value == 0 || value > 0xFFFFFFFFu) return false;
  *pid = static_cast<std::uint32_t>(value);
  return true;
}

void ParseStatus(std::string_view text, StatusFields* fields) {
  *fields = StatusFields{};
  std::string_view value;
  std::uint32_t pid = 0;
  if (StatusValue(text, "Pid", &value) && ReadIds(value, &pid, 1) == 1) fields->pid = pid;
  if (StatusValue(text, "NSpid", &value)) fields->nsPidCount = ReadIds(value, fields->nsPids, kMaxNamespaceLevels);
  // CAP_SYS_PTRACE is capability 19.
  fields->mayTrace = StatusValue(text, "CapEff", &value) && MaskHasBit(value, 19);
}

void ParseProcMountLine(std::string_view line, std::string_view mountPoint, ProcMount* mount) {
  // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [TAGS...] - TYPE SOURCE SUPER-OPTIONS
  const std::size_t separator = line.find(" - ");
  if (separator == std::string_view::npos) return;
  std::string_view fields[5];
  if (Words(line.substr(0, separator), fields, 5) < 5 || !SameEscapedPath(fields[4], mountPoint)) return;
  std::string_view tail[3];
  if (Words(line.substr(separator + 3), tail, 3) < 3) return;
  *mount = ProcMount{};
  if (tail[0] != "proc") return;
  mount->found = true;
  for (std::size_t q = 0; q <= tail[2].size();) {
    std::size_t comma = tail[2].find(',', q);
    if (comma == std::string_view::npos) comma = tail[2].size();
    const std::string_view option = tail[2].substr(q, comma - q);
    q = comma + 1;
    if (option.substr(0, 8) == "hidepid=") {
      const std::string_view value = option.substr(8);
      mount->hidePid = value == "0" || value == "off"        ? HidePid::Off
                       : value == "1" || value == "noaccess" ? HidePid::NoAccess
                       : value == "4" || value == "ptraceable" ? HidePid::Ptraceable
                                                             : HidePid::Invisible;
    } else if (option.substr(0, 4) == "gid=") {
      std::uint64_t gid = 0;
      mount->hasGid = ReadNumber(option, 4, &gid) && option.size() - 4 <= 10 && gid <= 0xFFFFFFFFu;
      mount->gid = mount->hasGid ? static_cast<std::uint32_t>(gid) : 0;
    }
  }
}

bool MapsEveryIdToItself(std::string_view uidMap) {
  std::string_view words[4];
  return Words(uidMap.substr(0, uidMap.find('\n')), words, 4) == 3 && uidMap.find('\n') == uidMap.size() - 1 &&
         words[0] == "0" && words[1] == "0" && words[2] == "4294967295";
}

std::string_view CompleteName(std::string_view kernelName, std::string_view cmdline,
                              std::string_view exePath) {
  if (kernelName.size() != kKernelNameMax) return kernelName;
  // An executable whose own name is the kernel's, all of it, was not cut.
  if (BaseName(exePath) == kernelName) return kernelName;
  const std::string_view argv0 = cmdline.substr(0, cmdline.find('\0'));
  for (std::string_view candidate : {BaseName(argv0), BaseName(exePath)}) {
    // No file name is longer than NAME_MAX bytes.
    if (candidate.size() > kernelName.size() && candidate.size() <= kNameMax &&
        candidate.substr(0, kernelName.size()) == kernelName) {
      return candidate;
    }
  }
  return kernelName;
}

void StoreImageName(std::string_view name, char* field, std::size_t fieldSize, NameCharset charset) {
  const std::size_t length = name.size() < fieldSize - 1 ? name.size() : fieldSize - 1;
  std::copy_n(name.data(), length, field);
  field[length] = '\0';
  ShowAsName(field, charset);
}

}  // namespace stopex
