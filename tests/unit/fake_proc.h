// What the Linux backend's tests share: a fabricated /proc tree, walks of
// a snapshot, and children of the test to open and terminate.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/process_api.h"
#include "platform/linux/proc_root.h"

namespace stopex {

namespace fs = std::filesystem;
using Listing = std::vector<std::pair<std::uint32_t, std::string>>;

// A snapshot walked up to the entry of pid, as kill mode holds it when it
// opens a match; the caller closes it.
inline Handle WalkTo(std::uint32_t pid) {
  const ProcessApi api = BindProcessApi();
  ProcessEntry entry;
  entry.dwSize = ProcessEntrySize();
  const Handle snapshot = api.CreateToolhelp32Snapshot(kSnapProcess, 0);
  for (int more = api.Process32First(snapshot, &entry); more != 0 && entry.th32ProcessID != pid;
       more = api.Process32Next(snapshot, &entry)) {
  }
  return snapshot;
}

// A fabricated /proc tree in a fresh temporary folder.
class FakeProc : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/stopex-proc-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    SetProcRoot(root_.c_str());
    fs::create_symlink(std::to_string(getpid()), fs::path(root_) / "self");
    ListSelf();
  }
  // It lists this program, as a /proc of the program's own namespace does
  // (its status file as a kernel without NSpid writes it; no stat: passed
  // over), whatever its number, 1 in a PID namespace of its own.
  void ListSelf() { Write(std::to_string(getpid()) + "/status", "Pid:\t" + std::to_string(getpid()) + "\n"); }
  void TearDown() override {
    SetProcRoot("/proc");
    SetOpenat2Refused(false);
    fs::remove_all(root_);
  }

  void Write(const std::string& relative, const std::string& content) {
    fs::create_directories((fs::path(root_) / relative).parent_path());
    std::ofstream(fs::path(root_) / relative, std::ios::binary) << content;
  }

  void AddProcess(std::uint32_t pid, const std::string& name, std::uint64_t startTime = 100,
                  const std::string& cmdline = "", char state = 'S') {
    const std::string dir = std::to_string(pid);
    Write(dir + "/stat", std::to_string(pid) + " (" + name + ") " + state + " 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 " +
                             std::to_string(startTime) + " 0 0\n");
    Write(dir + "/cmdline", cmdline);
  }

  static Listing Walk() {
    const ProcessApi api = BindProcessApi();
    Listing listing;
    ProcessEntry entry;
    entry.dwSize = ProcessEntrySize();
    const Handle snapshot = api.CreateToolhelp32Snapshot(kSnapProcess, 0);
    for (int more = api.Process32First(snapshot, &entry); more != 0; more = api.Process32Next(snapshot, &entry)) {
      listing.emplace_back(entry.th32ProcessID, entry.szExeFile);
    }
    CloseHandle(snapshot);
    return listing;
  }

  std::string root_;
};

// A child of this test, so that nothing else is ever signalled.
inline pid_t StartChild() {
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // a failed test leaves nothing behind
    for (;;) pause();
  }
  return pid;
}

inline bool Alive(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

// The stat line with one field (counted from 1, after the name) replaced.
inline std::string WithField(const std::string& line, int number, const std::string& value) {
  std::size_t p = line.rfind(')') + 1;
  for (int field = 3; field < number; ++field) p = line.find(' ', p + 1);
  const std::size_t end = line.find(' ', p + 1);
  return line.substr(0, p + 1) + value + line.substr(end);
}

// The descriptors open now, as the backend counts them: the one that lists
// them left out.
inline std::size_t OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  std::size_t count = 0;
  while (const dirent* d = readdir(dir)) count += d->d_name[0] != '.' ? 1 : 0;
  closedir(dir);
  return count - 1;
}

}  // namespace stopex
