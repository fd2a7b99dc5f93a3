// The Linux backend's reading of /proc texts: a stat line, and a name
// completed from an argument block. The input is the stat line, then after
// the first NUL byte the argument block (NULs and all).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/linux/proc_parse.h"
#include "platform/process_api.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string line = input.substr(0, split);
  const std::string cmdline = split == std::string::npos ? "" : input.substr(split + 1);

  stopex::StatFields fields;
  if (stopex::ParseStatLine(line, &fields)) {
    // The name lies between the first "(" and the last ")".
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    FUZZ_CHECK(open != std::string::npos && close != std::string::npos && open < close);
    FUZZ_CHECK(fields.name.data() == line.data() + open + 1);
    FUZZ_CHECK(fields.name.size() == close - open - 1);
  }

  const std::string_view kernelName =
      std::string_view(line).substr(0, std::min<std::size_t>(line.size(), stopex::kKernelNameMax));
  const std::string_view completed = stopex::CompleteName(kernelName, cmdline, {});
  FUZZ_CHECK(completed.substr(0, kernelName.size()) == kernelName);
  if (completed.size() != kernelName.size()) {
    FUZZ_CHECK(kernelName.size() == stopex::kKernelNameMax);
    FUZZ_CHECK(cmdline.find(completed) != std::string::npos);
    FUZZ_CHECK(completed.find('/') == std::string_view::npos);
  }

  for (const auto charset : {stopex::NameCharset::Utf8, stopex::NameCharset::Other}) {
    char field[stopex::kExeFileSize + 1];
    field[stopex::kExeFileSize] = 'G';  // a guard byte the store must not touch
    stopex::StoreImageName(completed, field, stopex::kExeFileSize, charset);
    FUZZ_CHECK(field[stopex::kExeFileSize] == 'G');
    const std::size_t length = std::strlen(field);
    FUZZ_CHECK(length < stopex::kExeFileSize);
    for (std::size_t i = 0; i < length; ++i) {
      const auto c = static_cast<unsigned char>(field[i]);
      FUZZ_CHECK(c >= 0x20 && c != 0x7F && c != '/');
      // A C1 control only as a byte of another UTF-8 character (never C2
      // 80-9F), and outside UTF-8 never at all.
      const auto before = i > 0 ? static_cast<unsigned char>(field[i - 1]) : 0u;
      const bool utf8 = charset == stopex::NameCharset::Utf8;
      FUZZ_CHECK(c < 0x80 || c > 0x9F || (utf8 && before >= 0x80 && before != 0xC2));
    }
  }
  return 0;
}
