// The pure name rules: a target reduced to its bare name, and whether an image name names it.
#include "match/target_name.h"

#include <cstring>

namespace stopex {
namespace {

// Longest part of the final component's name, and of its extension (dot included).
constexpr std::size_t kComponentPartMax = 255;

bool IsDotOrDotDot(const char* text, std::size_t length) {
  return (length == 1 && text[0] == '.') || (length == 2 && text[0] == '.' && text[1] == '.');
}

// The longest prefix of text[0, length) of at most limit bytes that does not
// end inside a double-byte character.
std::size_t CutAtCharacter(const char* text, std::size_t length, std::size_t limit,
                           LeadBytePredicate isLeadByte) {
  if (length <= limit) return length;
  std::size_t i = 0;
  while (i < limit) {
    const std::size_t step = CharacterLength(text + i, isLeadByte);
    if (i + step > limit) break;
    i += step;
  }
  return i;
}

// The first "\" at or after text that is a character of its own, or null. The
// text must begin at a character boundary; a lead byte with nothing after it
// stands alone.
const char* FindBackslash(const char* text, LeadBytePredicate isLeadByte) {
  for (const char* p = text; *p != '\0'; p += CharacterLength(p, isLeadByte)) {
    if (*p == '\\') return p;
  }
  return nullptr;
}

// Posix: the text after the last "/", whole; "." and ".." name folders.
std::size_t LastComponent(const char* argument, char* result) {
  const char* slash = std::strrchr(argument, '/');
  const char* component = slash == nullptr ? argument : slash + 1;
  const std::size_t length = std::strlen(component);
  if (IsDotOrDotDot(component, length)) return 0;
  const std::size_t kept = length < kTargetNameMax ? length : kTargetNameMax;
  std::memcpy(result, component, kept);
  result[kept] = '\0';
  return length;
}

// Windows: one pass over text[0, length) finds where the final component
// begins (past the last separator) and its last dot (length where there is
// none), skipping the second byte of every double-byte character. False
// where a lead byte has no second byte left (at the end, or cut off at
// 260): the whole text is then unusable.
bool FindFinalComponent(const char* text, std::size_t length, LeadBytePredicate isLeadByte,
                        std::size_t* componentStart, std::size_t* lastDot) {
  *componentStart = 0;
  *lastDot = length;
  for (std::size_t i = 0; i < length;) {
    const char c = text[i];
    if (isLeadByte(static_cast<unsigned char>(c))) {
      if (i + 1 >= length) return false;
      i += 2;
      continue;
    }
    if (c == '/' || c == '\\' || (c == ':' && i == 1)) {
      *componentStart = i + 1;
      *lastDot = length;
    } else if (c == '.') {
      *lastDot = i;
    }
    ++i;
  }
  return true;
}

}  // namespace

std::size_t ReduceTargetName(const char* argument, LeadBytePredicate isLeadByte,
                             char* result, PathRules rules) {
  result[0] = '\0';
  if (rules == PathRules::Posix) return LastComponent(argument, result);
  const std::size_t length = strnlen(argument, kTargetNameMax);
  std::size_t componentStart = 0;
  std::size_t lastDot = length;
  if (!FindFinalComponent(argument, length, isLeadByte, &componentStart, &lastDot)) return 0;

  const char* component = argument + componentStart;
  const std::size_t componentLength = length - componentStart;
  if (IsDotOrDotDot(component, componentLength)) return 0;

  const std::size_t dot = lastDot - componentStart;  // == componentLength when there is none
  std::size_t nameLength = dot;
  if (IsDotOrDotDot(component, nameLength)) nameLength = 0;
  const char* extension = component + dot;
  std::size_t extensionLength = componentLength - dot;
  nameLength = CutAtCharacter(component, nameLength, kComponentPartMax, isLeadByte);
  extensionLength = CutAtCharacter(extension, extensionLength, kComponentPartMax, isLeadByte);

  std::memcpy(result, component, nameLength);
  std::memcpy(result + nameLength, extension, extensionLength);
  result[nameLength + extensionLength] = '\0';
  return nameLength + extensionLength;
}

bool MatchImageName(const char* imageName, const char* targetName, LeadBytePredicate isLeadByte,
                    PathRules rules) {
  if (rules == PathRules::Posix) {
    const std::size_t length = std::strlen(targetName);
    return length != 0 && length <= kComponentPartMax && std::strcmp(imageName, targetName) == 0;
  }
  const char* firstBackslash = FindBackslash(imageName, isLeadByte);
  if (firstBackslash == nullptr) return std::strcmp(imageName, targetName) == 0;

  // The pattern is "\" followed by the target; only its first occurrence counts.
  const std::size_t imageLength = std::strlen(imageName);
  const std::size_t targetLength = std::strlen(targetName);
  for (const char* p = firstBackslash; p != nullptr; p = FindBackslash(p + 1, isLeadByte)) {
    const std::size_t rest = imageLength - static_cast<std::size_t>(p + 1 - imageName);
    if (rest >= targetLength && std::memcmp(p + 1, targetName, targetLength) == 0) {
      return rest == targetLength;
    }
  }
  return false;
}

}  // namespace stopex
