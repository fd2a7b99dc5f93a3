// The Linux /proc parsers against texts as the kernel writes them, and texts it never would.
#include "platform/linux/proc_parse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stopex {
namespace {

using namespace std::string_literals;

// A stat line with the given name and start time in field 22.
std::string StatLine(const std::string& name, const std::string& startTime) {
  return "1234 (" + name + ") S 1 1234 1234 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 " + startTime +
         " 2000000 300 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
}

TEST(ParseStatLine, FindsTheNameBetweenTheFirstOpenAndLastCloseParenthesis) {
  const std::string names[] = {"sleep", "", "a b", "a) b (c", ")", "((", "a\nb", "x) S 1 2 3 4 5", "\xff\xfe"};
  for (const std::string& name : names) {
    // Nineteen digits, as many as always fit 64 bits.
    const std::string line = StatLine(name, "9876543210987654321");
    StatFields fields;
    ASSERT_TRUE(ParseStatLine(line, &fields)) << name;
    EXPECT_EQ(fields.name, name);
    EXPECT_EQ(fields.startTime, 9876543210987654321u) << name;
    EXPECT_EQ(fields.state, 'S') << name;
  }
}

TEST(ParseStatLine, RejectsWhatIsNotAStatLine) {
  const std::string lines[] = {
      "",
      "1234 sleep S 1",
      "1234 (sleep S 1 2 3",
      "1234 (sleep) S 1 1234 1234 0 -1",               // too few fields
      StatLine("sleep", "x12"),                         // start time not a number
      StatLine("sleep", "123456789012345678901"),       // more digits than fit
      "1234 )x( S 1 1234 1234 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 77 1",
      "1234 (sleep S 1 1234 1234 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 77 1",  // no ")"
      "1234 (sleep) S 1 1234 1234 0 -1 x 100 0 0 0 1 2 0 0 20 0 1 0 77 1",       // flags
      "1234 (sleep) S 1 1234 1234 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 x 0 77 1", // threads
  };
  for (const std::string& line : lines) {
    StatFields fields;
    EXPECT_FALSE(ParseStatLine(line, &fields)) << line;
  }
}

// Ended means ended as a whole: a first thread that has ended (pthread_exit)
// leaves a process that runs while another thread does.
TEST(ParseStatLine, TellsAnEndedProcessFromOneWhoseFirstThreadHasEnded) {
  const struct {
    const char* fields;  // state, then fields 4 to 22
    bool ended, ending, kernelThread = false;
  } cases[] = {
      {"S 1 1 1 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 77", false, false},
      {"Z 1 1 1 0 -1 4194564 0 0 0 0 0 0 0 0 20 0 1 0 77", true, true},    // a true zombie
      {"Z 1 1 1 0 -1 4194564 0 0 0 0 0 0 0 0 20 0 3 0 77", false, false},  // first thread ended
      {"R 1 1 1 0 -1 4194564 0 0 0 0 0 0 0 0 20 0 1 0 77", false, true},   // PF_EXITING, alone
      {"R 1 1 1 0 -1 4194564 0 0 0 0 0 0 0 0 20 0 2 0 77", false, false},
      {"X 1 1 1 0 -1 4194564 0 0 0 0 0 0 0 0 20 0 1 0 77", true, true},
      {"S 2 0 0 0 -1 2129984 0 0 0 0 0 0 0 0 20 0 1 0 77", false, false, true},  // a kernel thread
  };
  for (const auto& c : cases) {
    StatFields fields;
    ASSERT_TRUE(ParseStatLine("9 (n) "s + c.fields, &fields)) << c.fields;
    EXPECT_EQ(HasEnded(fields), c.ended) << c.fields;
    EXPECT_EQ(IsEnding(fields), c.ending) << c.fields;
    EXPECT_EQ(IsKernelThread(fields), c.kernelThread) << c.fields;
    EXPECT_EQ(LeaderHasEnded(fields), c.fields[0] == 'Z' && !c.ended) << c.fields;
  }
}

// A link read into a buffer is no terminated string: what follows it is not read.
TEST(ProcParse, ReadsOnlyTheTextItIsGiven) {
  const std::string_view digits = "40000001234";
  std::uint32_t pid = 0;
  ASSERT_TRUE(ParseProcessId(digits.substr(0, 7), &pid));
  EXPECT_EQ(pid, 4000000u);
  for (const std::string_view text : {"0", "12a", "00000000001", "4294967296", ""}) {
    EXPECT_FALSE(ParseProcessId(text, &pid)) << text;
  }
  // Nor is what follows a status file read into a buffer used before.
  for (const std::string_view status : {"NSpid:\t12\t34567", "NSpid:\t12\t34\t5"}) {
    StatusFields fields;
    ParseStatus(status.substr(0, 12), &fields);
    EXPECT_EQ(std::vector<std::uint32_t>(fields.nsPids, fields.nsPids + fields.nsPidCount),
              (std::vector<std::uint32_t>{12, 34})) << status;
  }
}

// "\t1\t2..." up to count, and the same as numbers.
std::string Numbers(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text.append("\t").append(std::to_string(i));
  return text;
}
std::vector<std::uint32_t> Ids(int count) {
  std::vector<std::uint32_t> ids;
  for (int i = 1; i <= count; ++i) ids.push_back(static_cast<std::uint32_t>(i));
  return ids;
}

TEST(ParseStatus, ReadsTheIdsAndWhetherTheProcessMayTrace) {
  const struct {
    std::string text;
    std::uint32_t pid;
    std::vector<std::uint32_t> nsPids;
    bool mayTrace = false;
  } cases[] = {
      {"Name:\tsleep\nPid:\t812\nNSpid:\t812\nSigIgn:\t0000000000000000\n", 812, {812}},
      {"Pid:\t812\nNSpid:\t812\t7\t1\nSigIgn:\t0000000000000004\n", 812, {812, 7, 1}},
      {"Name:\tkthreadd\nPid:\t2\nNSpid:\t2\nSigIgn:\tffffffffffffffff\n", 2, {2}},
      {"NSpid:\t9\nSigIgn:\t0000000000000100\n", 0, {9}},       // a file server's thread
      {"Pid:\t-1\nNSpid:\t-1\n", 0, {}},                        // a descriptor's ended process
      {"Pid:\t12x\nNSpid:\t3\tz\nSigIgn:\t00000000000001g0\n", 0, {}},
      {"Name:\tPid: 4\nSigIgn:\t100\n", 0, {}},                 // a name is not a line
      {"", 0, {}},
      // The deepest namespace: 33 numbers; one more is no line the kernel writes.
      {"NSpid:" + Numbers(33), 0, Ids(33)},
      {"NSpid:" + Numbers(34), 0, {}},
      {"Groups:\t" + std::string(70000, '1') + "\nCapEff:\t000001ffffffffff\n", 0, {}, true},
      {"CapEff:\t00000000a80425fb\n", 0, {}, false},  // root in a container: no CAP_SYS_PTRACE
      {"CapEff:\t0000000000090000\n", 0, {}, true},   // a digit, not a letter, holds it
      {"CapEff:\tffff\n", 0, {}, false},               // too short to hold it
      {"CapEff:\t" + std::string(27, '0') + "80000\n", 0, {}, true},  // the longest mask read
      {"CapEff:\t" + std::string(28, '0') + "80000\n", 0, {}, false},
      {"NSpid:\t80000\n", 0, {80000}, false},           // no CapEff line: no other line serves
      {"Pid:\t0\nNSpid:\t0\n", 0, {}},                  // a descriptor's process this namespace does not show
      {"NSpid:\t4294967295\n", 0, {4294967295u}},
  };
  for (const auto& c : cases) {
    StatusFields fields;
    ParseStatus(c.text, &fields);
    EXPECT_EQ(fields.pid, c.pid) << c.text;
    EXPECT_EQ(std::vector<std::uint32_t>(fields.nsPids, fields.nsPids + fields.nsPidCount), c.nsPids) << c.text;
    EXPECT_EQ(fields.mayTrace, c.mayTrace) << c.text;
  }
}

TEST(ParseProcMount, ReadsTheOptionsOfTheMountOnTop) {
  const std::string proc = "22 1 0:21 / /proc rw,nosuid shared:12 - proc proc ";
  const struct {
    std::string mountinfo;
    bool found;
    HidePid hidePid;
    bool hasGid;
    std::uint32_t gid;
    std::string mountPoint = "/proc";
  } cases[] = {
      {proc + "rw\n", true, HidePid::Off, false, 0},
      {proc + "rw,hidepid=invisible,gid=27\n", true, HidePid::Invisible, true, 27},
      {proc + "rw,hidepid=2\n", true, HidePid::Invisible, false, 0},
      {proc + "rw,hidepid=off\n", true, HidePid::Off, false, 0},
      {proc + "rw,hidepid=0\n", true, HidePid::Off, false, 0},
      {proc + "rw,hidepid=noaccess\n", true, HidePid::NoAccess, false, 0},
      {proc + "rw,hidepid=1\n", true, HidePid::NoAccess, false, 0},
      {proc + "rw,hidepid=ptraceable,gid=5\n", true, HidePid::Ptraceable, true, 5},
      {proc + "rw,hidepid=4\n", true, HidePid::Ptraceable, false, 0},
      {proc + "rw,hidepid=8\n", true, HidePid::Invisible, false, 0},  // one this does not know hides
      {proc + "rw,hidepid=2\n" + proc + "rw\n", true, HidePid::Off, false, 0},  // mounted again on top
      {"30 1 0:40 / /proc rw - tmpfs none rw\n", false, HidePid::Off, false, 0},
      {"23 1 0:21 / /proc/sys rw - proc proc rw,hidepid=2\n", false, HidePid::Off, false, 0},
      {"23 1 0:21 / /pro\\143 rw - proc proc rw,hidepid=2\n", true, HidePid::Invisible, false, 0},  // escaped
      // A blank, a tab and a backslash are escaped; a backslash and digits are text.
      {"23 1 0:21 / /a\\040b\\011\\134 rw - proc proc rw,hidepid=2\n", true, HidePid::Invisible, false, 0, "/a b\t\\"},
      {"23 1 0:21 / /a\\134040 rw - proc proc rw,hidepid=2\n", true, HidePid::Invisible, false, 0, "/a\\040"},
      {"23 1 0:21 / /a\\040 rw - proc proc rw,hidepid=2\n", false, HidePid::Off, false, 0, "/a\\040"},
      {"23 1 0:21 / /run/1000/proc rw - proc proc rw,hidepid=2\n", true, HidePid::Invisible, false, 0, "/run/1000/proc"},
      {"24 1 0:21 / /prod rw - proc proc rw,hidepid=2\n", false, HidePid::Off, false, 0},  // as long, not the same
      {proc + "rw,hidepid=2,gid=4294967295\n", true, HidePid::Invisible, true, 4294967295u},
      {proc + "rw,hidepid=2,gid=4294967296\n", true, HidePid::Invisible, false, 0},
      {"23 1 0:21 / /proc rw - proc", false, HidePid::Off, false, 0},
      {"", false, HidePid::Off, false, 0},
  };
  for (const auto& c : cases) {
    ProcMount mount;
    for (std::size_t p = 0; p < c.mountinfo.size();) {
      const std::size_t end = std::min(c.mountinfo.find('\n', p), c.mountinfo.size());
      ParseProcMountLine(std::string_view(c.mountinfo).substr(p, end - p), c.mountPoint, &mount);
      p = end + 1;
    }
    EXPECT_EQ(mount.found, c.found) << c.mountinfo;
    EXPECT_EQ(mount.hidePid, c.hidePid) << c.mountinfo;
    EXPECT_EQ(mount.hasGid, c.hasGid) << c.mountinfo;
    EXPECT_EQ(mount.gid, c.gid) << c.mountinfo;
  }
}

// Only a map of every id to itself is the first user namespace's.
TEST(MapsEveryIdToItself, OnlyTheFirstUserNamespacesMap) {
  EXPECT_TRUE(MapsEveryIdToItself("         0          0 4294967295\n"));
  EXPECT_FALSE(MapsEveryIdToItself("         0      65534          1\n"));
  EXPECT_FALSE(MapsEveryIdToItself("         0          0 4294967294\n"));
  EXPECT_FALSE(MapsEveryIdToItself("         1          1 4294967295\n"));
  EXPECT_FALSE(MapsEveryIdToItself("0 0 4294967295\n1 1 1\n"));
  EXPECT_FALSE(MapsEveryIdToItself("0 0 4294967295"));  // cut before its end
  EXPECT_FALSE(MapsEveryIdToItself(""));
}

TEST(CompleteName, CompletesOnlyANameTheKernelCut) {
  const struct {
    std::string kernelName, cmdline, exe, expected;
  } cases[] = {
      {"sleep", "/bin/sleep\0" "100\0"s, "/usr/bin/sleep", "sleep"},
      {"averyveryverylo", "/tmp/averyveryverylongname\0-x\0"s, "", "averyveryverylongname"},
      {"averyveryverylo", "averyveryverylongname"s, "", "averyveryverylongname"},
      // argv[0] rewritten by the program: the executable's path serves.
      {"averyveryverylo", "worker: idle\0"s, "/opt/averyveryverylong-bin", "averyveryverylong-bin"},
      // Neither begins with the kernel's name: it stays as it is.
      {"averyveryverylo", "/bin/other\0"s, "/bin/other", "averyveryverylo"},
      {"exactlyfifteen!", "/bin/exactlyfifteen!\0"s, "/bin/exactlyfifteen!", "exactlyfifteen!"},
      {"averyveryverylo", ""s, "", "averyveryverylo"},  // a kernel thread has no argv
      // A shorter name is never completed, even when argv[0] is longer.
      {"short", "/bin/shorter\0"s, "/bin/shorter", "short"},
      // An executable of exactly fifteen bytes was not cut, whatever argv[0] says.
      {"exactlyfifteen!", "exactlyfifteen!-more\0"s, "/bin/exactlyfifteen!", "exactlyfifteen!"},
      // No file name runs past 255 bytes.
      {"aaaaaaaaaaaaaaa", std::string(256, 'a') + "\0"s, "", "aaaaaaaaaaaaaaa"},
      {"aaaaaaaaaaaaaaa", std::string(255, 'a') + "\0"s, "", std::string(255, 'a')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompleteName(c.kernelName, c.cmdline, c.exe), c.expected) << c.cmdline;
  }
}

TEST(StoreImageName, KeepsLettersButShowsWhatATerminalActsOnAsQuestionMarks) {
  const struct {
    std::string name, shown;
    NameCharset charset = NameCharset::Utf8;
  } cases[] = {
      {"a\nb\tc\x7f\xe9", "a?b?c?\xe9"},        // Latin-1 letters stay
      {"zq/zqsshd", "zq?zqsshd"},               // never typed as another name
      {"a\xc2\x9b" "2J", "a?2J"},               // CSI in UTF-8: one character, one "?"
      {"\x9b\x80\x9f\xa0", "???\xa0"},          // C1 bytes of no character
      {"\xc3\xa9t\xe2\x82\xac", "\xc3\xa9t\xe2\x82\xac"},  // UTF-8 letters stay, whatever their bytes
      {"\xe2\x82x", "\xe2?x"},                  // a character cut short is no character
      {"\xe0\x80\x80\xed\xa0\x80", "\xe0??\xed\xa0?"},  // an overlong form, a surrogate
      {"\xf0\x80\x80\x9b\xf4\x90\x80\x80", "\xf0???\xf4???"},  // past U+10FFFF
      {"\xc2\xa0\xc2", "\xc2\xa0\xc2"},
      // Each first and last lead byte, with a second byte a C1 control would be alone.
      {"\xdf\x80\xe0\xa0\x80", "\xdf\x80\xe0\xa0\x80"},
      {"\xef\x80\x80\xf0\x90\x80\x80", "\xef\x80\x80\xf0\x90\x80\x80"},
      {"\xf4\x8f\x80\x80\xc2\x9f", "\xf4\x8f\x80\x80?"},
      {"0123456789abcdefgh", "0123456789abcde"},  // cut to the field
      {"0123456789abcdef", "0123456789abcde"},    // one byte more than fits
      {"", ""},
      // Invisible format characters, one "?" each, and their neighbours.
      {"a\u200a\u200b\u200f\u2010b", "a\u200a??\u2010b"},
      {"\u2029\u202a\u202f", "\u2029?\u202f"},
      {"\u202a\u202b\u202c\u202d\u202e", "?????"},
      {"\u205f\u2065\u206a", "\u205f\u2065\u206a"},
      {"\u2060\u2061\u2062\u2063\u2064", "?????"},
      {"\u2066\u2067\u2068\u2069", "????"},
      {"a\ufeffb\ufefe", "a?b\ufefe"},
      // In another character set every byte 0x80 to 0x9F is a C1 control.
      {"\u011b", "\u011b"},  // c4 9b in UTF-8
      {"\u011b\u009b", "\xc4?\xc2?", NameCharset::Other},
      {"a\x7f\x80\x9f\xa0", "a???\xa0", NameCharset::Other},
      {"\u202ex\u00e9", "?x\xc3\xa9", NameCharset::Other},
  };
  for (const auto& c : cases) {
    char field[16];
    StoreImageName(c.name, field, sizeof field, c.charset);
    EXPECT_EQ(std::string(field), c.shown) << c.name;
  }
}

// Only a locale name that says UTF-8 is taken for it: any doubt shows more "?".
TEST(CharsetOfLocaleName, IsUtf8OnlyWhereTheNameSaysSo) {
  const struct {
    const char* name;
    NameCharset charset;
  } cases[] = {
      {"en_US.UTF-8", NameCharset::Utf8}, {"C.utf8", NameCharset::Utf8},
      {"de_DE.Utf-8@euro", NameCharset::Utf8}, {"C.UTF-8-1", NameCharset::Other},
      {"C.utf", NameCharset::Other}, {"C.utfx", NameCharset::Other}, {"ja_JP.eucJP", NameCharset::Other},
      {"en_US", NameCharset::Other}, {"POSIX", NameCharset::Other},
      {"utf8", NameCharset::Other}, {"", NameCharset::Other}, {nullptr, NameCharset::Other},
  };
  for (const auto& c : cases) EXPECT_EQ(CharsetOfLocaleName(c.name), c.charset) << (c.name ? c.name : "null");
}

}  // namespace
}  // namespace stopex
