// The name rules: targets reduced to bare names, and image names matched against them.
#include "match/target_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake/process_fake.h"

namespace stopex {
namespace {

bool NoLeadBytes(unsigned char) { return false; }

std::string Reduce(const std::string& argument, LeadBytePredicate isLeadByte = NoLeadBytes) {
  char result[kTargetNameSize];
  std::memset(result, 'Z', sizeof result);
  const std::size_t length = ReduceTargetName(argument.c_str(), isLeadByte, result);
  EXPECT_EQ(length, std::strlen(result));
  return result;
}

TEST(ReduceTargetName, TakesTheFinalComponent) {
  const struct {
    std::string argument;
    std::string expected;
  } cases[] = {
      {"notepad.exe", "notepad.exe"},
      {"C:\\WINDOWS\\notepad.exe", "notepad.exe"},
      {"C:/Tools/x.exe", "x.exe"},
      {"/usr/sbin/nginx", "nginx"},  // a Linux path
      {"/", ""},
      {"C:x.exe", "x.exe"},
      {"..\\bin\\x.exe", "x.exe"},
      {"a:b.exe", "b.exe"},
      {"ab:c.exe", "ab:c.exe"},
      {"x:y:z.exe", "y:z.exe"},
      {"archive.tar.gz", "archive.tar.gz"},
      {".exe", ".exe"},
      {"x.", "x."},
      {"..x", ".x"},
      {"..exe", ".exe"},
      {"...", "."},
      {"a..x", "a..x"},
      {"C:\\dir\\", ""},
      {"..", ""},
      {".", ""},
      {"C:\\dir\\..", ""},
      {"C:..", ""},
      {"C:", ""},
      {"", ""},
      {"\\:x.exe", "x.exe"},
      {"dir.d\\x", "x"},               // a dot before the last separator is not the extension
      {"C:\\a/b\\c/x*.exe", "x*.exe"},  // '*' is ordinary
  };
  for (const auto& c : cases) EXPECT_EQ(Reduce(c.argument), c.expected) << c.argument;
}

// Where "/" alone ends a folder, "\\" and ":" belong to the name, and a
// name with them is matched whole.
TEST(ReduceTargetName, ReadsPosixPathsWithSlashesAlone) {
  const struct {
    std::string argument, expected;
  } cases[] = {
      {"/usr/sbin/nginx", "nginx"}, {"zqfoo\\zqbar", "zqfoo\\zqbar"}, {"C:x", "C:x"},
      {"/tmp/a\\b/c:d", "c:d"},   {"dir/", ""},                        {"\\", "\\"},
      // The component whole: no dot rules, no cut; "." and ".." name folders.
      {"..x", "..x"}, {"/tmp/...", "..."}, {"x.", "x."}, {".", ""}, {"/tmp/..", ""}, {"/", ""}, {"", ""},
      {std::string(300, 'a') + ".exe", std::string(300, 'a') + ".exe"},
  };
  for (const auto& c : cases) {
    char result[kTargetNameSize + 1];
    result[kTargetNameSize] = 'Z';
    const std::size_t length = ReduceTargetName(c.argument.c_str(), NoLeadBytes, result, PathRules::Posix);
    EXPECT_EQ(length, c.expected.size()) << c.argument;
    EXPECT_EQ(std::string(result), c.expected.substr(0, kTargetNameMax)) << c.argument;
    EXPECT_EQ(result[kTargetNameSize], 'Z') << "written past the room it was given";
  }
  EXPECT_FALSE(MatchImageName("ZQFOO\\ZQBAR", "ZQBAR", NoLeadBytes, PathRules::Posix));
  EXPECT_FALSE(MatchImageName("ZQDIR\\", "", NoLeadBytes, PathRules::Posix));
  EXPECT_TRUE(MatchImageName("ZQFOO\\ZQBAR", "ZQFOO\\ZQBAR", NoLeadBytes, PathRules::Posix));
  // A folder, or a name longer than any file name, matches nothing.
  EXPECT_FALSE(MatchImageName("", "", NoLeadBytes, PathRules::Posix));
  EXPECT_FALSE(MatchImageName(std::string(256, 'A').c_str(), std::string(256, 'A').c_str(), NoLeadBytes, PathRules::Posix));
  EXPECT_TRUE(MatchImageName(std::string(255, 'A').c_str(), std::string(255, 'A').c_str(), NoLeadBytes, PathRules::Posix));
}

TEST(ReduceTargetName, BoundsEveryPartOfALongArgument) {
  const std::string a300(300, 'a');
  EXPECT_EQ(Reduce(a300), std::string(255, 'a'));
  // Only the first 260 bytes count: the separator past them is never seen.
  EXPECT_EQ(Reduce(std::string(270, 'a') + "\\x.exe"), std::string(255, 'a'));
  EXPECT_EQ(Reduce(std::string(260, 'a') + "\\x.exe"), std::string(255, 'a'));
  EXPECT_EQ(Reduce(std::string(250, 'a') + "\\" + std::string(50, 'b')), std::string(9, 'b'));
  // Name and extension are cut separately, each to 255 with the dot counted.
  EXPECT_EQ(Reduce("n." + std::string(300, 'e')), "n." + std::string(254, 'e'));
  EXPECT_EQ(Reduce(std::string(256, 'n') + ".exe"), std::string(255, 'n') + ".exe");
  EXPECT_EQ(Reduce(std::string(200, 'n') + "." + std::string(59, 'e')),
            std::string(200, 'n') + "." + std::string(59, 'e'));
  for (std::size_t n : {0u, 1u, 259u, 260u, 261u, 4096u}) {
    EXPECT_LE(Reduce(std::string(n, '.') + std::string(n, 'x')).size(), kTargetNameMax);
  }
}

TEST(ReduceTargetName, KnowsDoubleByteCharacters) {
  const LeadBytePredicate sjis = fake::IsShiftJisLeadByte;
  // A second byte equal to "\" or "/" or "." is part of its character.
  EXPECT_EQ(Reduce("C:\\dir\\\x81\\x.exe", sjis), "\x81\\x.exe");
  EXPECT_EQ(Reduce("\x81/a", sjis), "\x81/a");
  EXPECT_EQ(Reduce("ab\x81.", sjis), "ab\x81.");
  // A lead byte in first place keeps the next byte from being a drive colon.
  EXPECT_EQ(Reduce("\x81:x.exe", sjis), "\x81:x.exe");
  // A lone lead byte at the end, or one whose character the 260-byte cut
  // would split, leaves nothing usable.
  EXPECT_EQ(Reduce("x.ex\x81", sjis), "");
  EXPECT_EQ(Reduce(std::string(259, 'a') + "\x81\x40", sjis), "");
  EXPECT_EQ(Reduce(std::string(258, 'a') + "\x81\x40", sjis), std::string(255, 'a'));
  // The 255-byte cut of a name never splits a character either.
  std::string name = std::string(254, 'a') + "\x81\x40" + ".exe";
  EXPECT_EQ(Reduce(name, sjis), std::string(254, 'a') + ".exe");
  EXPECT_EQ(Reduce(name), std::string(254, 'a') + "\x81.exe");
}

TEST(MatchImageName, ComparesTheLastComponent) {
  const struct {
    const char* image;
    const char* target;
    bool expected;
  } cases[] = {
      {"NOTEPAD.EXE", "NOTEPAD.EXE", true},
      {"NOTEPAD.EXE", "PAD.EXE", false},
      {"NOTEPAD.EXE", "NOTEPAD.EX", false},
      {"C:\\WINDOWS\\NOTEPAD.EXE", "NOTEPAD.EXE", true},
      {"C:\\WINDOWS\\NOTEPAD.EXE", "PAD.EXE", false},
      {"C:\\WINDOWS\\NOTEPAD.EXE", "NOTEPAD", false},
      {"C:\\NOTEPAD.EXE\\NOTEPAD.EXE", "NOTEPAD.EXE", false},  // first occurrence only
      {"C:\\WINDOWS\\NOTEPAD.EXE", "", false},
      {"", "", true},
      {"", "X", false},
      {"C:\\", "", true},                 // its first "\" is its last character
      {"A\\B", "B", true},
      {"A\\B", "A\\B", false},            // the pattern needs a "\" before the target
      {"\\A\\B", "A\\B", true},
      {"C:/TOOLS/X.EXE", "X.EXE", false}, // "/" is no separator on the image side
      {"X.EXE", "C:\\X.EXE", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchImageName(c.image, c.target, NoLeadBytes), c.expected) << c.image << " ~ " << c.target;
    // Without bytes of 0x80 and above, a double-byte code page changes nothing.
    EXPECT_EQ(MatchImageName(c.image, c.target, fake::IsShiftJisLeadByte), c.expected) << c.image;
  }
}

// In the double-byte code pages many characters end in 0x5C, the byte of
// "\": such a byte is part of its character and no separator.
TEST(MatchImageName, KnowsDoubleByteCharacters) {
  const struct {
    const char* codePage;
    LeadBytePredicate isLeadByte;
    const char* character;  // a character whose second byte is 0x5C
  } pages[] = {
      {"932", fake::IsShiftJisLeadByte, "\x83\x5C"},  // katakana so
      {"932", fake::IsShiftJisLeadByte, "\x95\x5C"},  // "table"
      {"936", fake::IsGbkLeadByte, "\x81\x5C"},
      {"950", fake::IsBig5LeadByte, "\xA5\x5C"},
  };
  for (const auto& page : pages) {
    const std::string ch = page.character;
    const struct {
      std::string image;
      std::string target;
      bool expected;
    } cases[] = {
        {ch + "X.EXE", "X.EXE", false},  // no separator: the whole name must equal the target
        {ch + "X.EXE", ch + "X.EXE", true},
        {"C:\\" + ch + "X.EXE", "X.EXE", false},
        {"C:\\" + ch + "X.EXE", ch + "X.EXE", true},
        {ch + "\\X.EXE", "X.EXE", true},  // a real separator after the character
        {"C:\\D\\" + ch, ch, true},
        {"C:\\" + ch + ch + "X", ch + "X", false},
        {"C:\\A" + ch + "\\X.EXE", "X.EXE", true},
    };
    for (const auto& c : cases) {
      EXPECT_EQ(MatchImageName(c.image.c_str(), c.target.c_str(), page.isLeadByte), c.expected)
          << page.codePage << ": " << c.image << " ~ " << c.target;
    }
  }
  // In a single-byte code page the same bytes are two characters, a "\" among them.
  EXPECT_TRUE(MatchImageName("\x83\x5CX.EXE", "X.EXE", NoLeadBytes));
  // A lead byte at the very end stands alone.
  EXPECT_TRUE(MatchImageName("A\\\x83", "\x83", fake::IsShiftJisLeadByte));
}

}  // namespace
}  // namespace stopex
