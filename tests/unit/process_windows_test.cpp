// The Windows backend against the real system: the walk, opening, text operations, the command line and the name check.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/process_api.h"

namespace stopex {
namespace {

TEST(ProcessWindows, BindsAndWalksTheSnapshotWhichHoldsThisProcess) {
  const ProcessApi api = BindProcessApi();
  ASSERT_NE(api.CreateToolhelp32Snapshot, nullptr);
  ASSERT_NE(api.Process32First, nullptr);
  ASSERT_NE(api.Process32Next, nullptr);
#if !defined(_WIN64)
  EXPECT_EQ(ProcessEntrySize(), 296u);
#endif

  ProcessEntry entry;
  entry.dwSize = ProcessEntrySize();
  const Handle snapshot = api.CreateToolhelp32Snapshot(kSnapProcess, 0);
  ASSERT_NE(snapshot, kInvalidHandleValue);
  int entries = 0;
  std::string ownName;
  for (int more = api.Process32First(snapshot, &entry); more != 0; more = api.Process32Next(snapshot, &entry)) {
    ++entries;
    if (entry.th32ProcessID == GetCurrentProcessId()) ownName = entry.szExeFile;
  }
  EXPECT_EQ(CloseHandle(snapshot), 1);
  EXPECT_GT(entries, 1);
  CharUpperA(ownName.data());
  EXPECT_NE(ownName.find("STOPEX_BACKEND_TESTS.EXE"), std::string::npos) << ownName;
}

TEST(ProcessWindows, AWrongRecordSizeOrAnInvalidSnapshotYieldsNoEntry) {
  const ProcessApi api = BindProcessApi();
  ProcessEntry entry;
  entry.dwSize = ProcessEntrySize();
  EXPECT_EQ(api.Process32First(kInvalidHandleValue, &entry), 0);
  entry.dwSize = 12;
  const Handle snapshot = api.CreateToolhelp32Snapshot(kSnapProcess, 0);
  EXPECT_EQ(api.Process32First(snapshot, &entry), 0);
  CloseHandle(snapshot);
}

TEST(ProcessWindows, OpeningAProcessThatDoesNotExistFailsWith87) {
  // Process ids are multiples of four; this one is never handed out.
  EXPECT_EQ(OpenProcess(kProcessTerminate, 0, 0xFFFFFFF3u), kNullHandle);
  EXPECT_EQ(GetLastError(), 87u);
}

TEST(ProcessWindows, TextOperations) {
  char text[] = "abc.exe";
  char copy[16];
  EXPECT_EQ(lstrcpyA(copy, text), copy);
  EXPECT_EQ(CharUpperA(copy), copy);
  EXPECT_STREQ(copy, "ABC.EXE");
}

// The arguments come from the Unicode command line, behind an empty quoted
// program-name token; run without arguments, that token is all there is.
TEST(ProcessWindows, RendersTheArgumentsOfTheUnicodeCommandLine) {
  ASSERT_NE(GetCommandLineA(), nullptr);
  EXPECT_EQ(std::strncmp(GetCommandLineA(), "\"\"", 2), 0) << GetCommandLineA();
  EXPECT_EQ(std::strstr(GetCommandLineA(), "stopex_backend_tests"), nullptr);
  EXPECT_TRUE(CommandLineIsExact());
  EXPECT_NE(GetACP(), 0u);
}

// The name this process was listed under is its own; another is not, and
// says so with the code of a process that no longer exists.
TEST(ProcessWindows, TellsTheListedNameFromAnother) {
  const std::uint32_t self = GetCurrentProcessId();
  const Handle own = OpenProcess(kProcessTerminate, 0, self);
  ASSERT_NE(own, kNullHandle);
  for (const Handle handle : {own, kNullHandle}) {
    EXPECT_EQ(CompareListedName(handle, self, "stopex_backend_tests.exe"), NameMatch::Exact);
    EXPECT_EQ(CompareListedName(handle, self, "STOPEX_BACKEND_TESTS.EXE"), NameMatch::Exact);
    EXPECT_EQ(CompareListedName(handle, self, "C:\\T\\STOPEX_BACKEND_TESTS.EXE"), NameMatch::Exact);
    EXPECT_EQ(CompareListedName(handle, self, "other.exe"), NameMatch::Other);
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(CompareListedName(handle, self, "tests.exe"), NameMatch::Other);
  }
  CloseHandle(own);
  // A name that cannot be learned leaves the listed name standing.
  EXPECT_EQ(CompareListedName(kNullHandle, 0xFFFFFFF3u, "x.exe"), NameMatch::Exact);
}

}  // namespace
}  // namespace stopex
