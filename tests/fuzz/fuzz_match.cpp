// Image-name matching against a short, obviously correct reference. The input
// is a code-page selector byte, then the image name and the target,
// separated by the first NUL byte.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "match/target_name.h"

namespace {

// An image name without "\" must equal the target; with one, the first
// occurrence of "\" followed by the target must end the image name. Only a
// "\" that is a character of its own counts.
bool Reference(const std::string& image, const std::string& target, stopex::LeadBytePredicate isLeadByte) {
  std::vector<std::size_t> separators;
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (isLeadByte(static_cast<unsigned char>(image[i])) && i + 1 < image.size()) {
      ++i;
    } else if (image[i] == '\\') {
      separators.push_back(i);
    }
  }
  if (separators.empty()) return image == target;
  for (std::size_t at : separators) {
    if (image.compare(at + 1, target.size(), target) == 0) return at + 1 + target.size() == image.size();
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const stopex::LeadBytePredicate isLeadByte = CodePageFor(data[0]);
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t split = input.find('\0');
  const std::string image = input.substr(0, split);
  std::string target = split == std::string::npos ? "" : input.substr(split + 1);
  target.resize(target.find('\0') == std::string::npos ? target.size() : target.find('\0'));
  FUZZ_CHECK(stopex::MatchImageName(image.c_str(), target.c_str(), isLeadByte) ==
             Reference(image, target, isLeadByte));
  return 0;
}
