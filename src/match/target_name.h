// The target name: a target argument reduced to its bare executable name,
// and the test of whether a process's image name names it.
#pragma once

#include <cstddef>

#include "match/code_page.h"

namespace stopex {

inline constexpr std::size_t kTargetNameMax = 260;
inline constexpr std::size_t kTargetNameSize = kTargetNameMax + 1;  // with the terminator

// How paths are written. Windows: "\" and "/" end a folder, "C:" names a
// drive, and an image name may be a full path. Posix: "/" alone ends a
// folder, and an image name is a bare name whose "\" and ":" are characters
// like any other.
enum class PathRules { Windows, Posix };

// Writes the final path component of the argument into result (room for
// kTargetNameSize bytes, always terminated) and returns its length.
// Windows: the component with its name and extension cut to 255 bytes each,
// at most 260 in all; separators and dots are recognised only outside
// double-byte characters. Posix: the text after the last "/", whole: "."
// and ".." name folders and give the empty name; the length returned may
// pass 260, and result then holds the first 260 bytes of the component,
// which is the argument's last that many bytes.
std::size_t ReduceTargetName(const char* argument, LeadBytePredicate isLeadByte,
                             char* result, PathRules rules = PathRules::Windows);

// Both texts already upper-cased. Posix: the image name matches when it
// equals the target, and nothing matches a target that names a folder
// (empty) or is longer than any file name (255 bytes). Windows: a bare image
// name matches only when it equals the target; one with a directory (Windows rules) when the first
// occurrence of "\" followed by the target is at its very end. A "\" counts
// only as a character of its own, never as the second byte of a double-byte
// character.
bool MatchImageName(const char* imageName, const char* targetName, LeadBytePredicate isLeadByte,
                    PathRules rules = PathRules::Windows);

}  // namespace stopex
