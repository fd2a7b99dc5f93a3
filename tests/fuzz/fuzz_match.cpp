// Image-name matching against a short, obviously correct reference. The input
// is the image name and the target, separated by the first NUL byte.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "match/target_name.h"

namespace {

// An image name without "\" must equal the target; with one, the first
// occurrence of "\" followed by the target must end the image name.
bool Reference(const std::string& image, const std::string& target) {
  if (image.find('\\') == std::string::npos) return image == target;
  const std::string pattern = "\\" + target;
  const std::size_t at = image.find(pattern);
  return at != std::string::npos && at + pattern.size() == image.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string image = input.substr(0, split);
  std::string target = split == std::string::npos ? "" : input.substr(split + 1);
  target.resize(target.find('\0') == std::string::npos ? target.size() : target.find('\0'));
  FUZZ_CHECK(stopex::MatchImageName(image.c_str(), target.c_str()) == Reference(image, target));
  return 0;
}
