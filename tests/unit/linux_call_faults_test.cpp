// The Linux backend with each of its calls failed in turn: a failure is
// never an answer. What it lists is there under the name it bears, and what
// it leaves out it says it could not read, unless the failure said the
// process has gone.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/wait.h>

#include "fake_proc.h"
#include "linux_call_faults.h"
#include "platform/process_api.h"

namespace stopex {
namespace {

using namespace std::string_literals;
using faults::Call;

// What a walk answered: the processes listed, or why no list was made.
struct Answer {
  bool listed = false;
  Listing listing;
  std::string unread;  // what it says it could not read; empty: nothing
  std::string why;     // why no list was made
};

Answer WalkAnswer() {
  const ProcessApi api = BindProcessApi();
  Answer answer;
  ProcessEntry entry;
  entry.dwSize = ProcessEntrySize();
  const Handle snapshot = api.CreateToolhelp32Snapshot(kSnapProcess, 0);
  if (snapshot == kInvalidHandleValue) {
    if (DescribeLastError() != nullptr) answer.why = DescribeLastError();
    return answer;
  }
  int more = api.Process32First(snapshot, &entry);
  for (; more != 0; more = api.Process32Next(snapshot, &entry)) answer.listing.emplace_back(entry.th32ProcessID, entry.szExeFile);
  answer.listed = GetLastError() == 18;
  if (!answer.listed && DescribeLastError() != nullptr) answer.why = DescribeLastError();
  if (const char* unread = DescribeUnreadProcesses()) answer.unread = unread;
  CloseHandle(snapshot);
  return answer;
}

// Whether every entry of part is in whole, with the same name, or with the
// kernel's 15 bytes of it where its executable was hidden from the walk.
bool WithinListing(const Listing& part, const Listing& whole) {
  std::size_t j = 0;
  for (const auto& [pid, name] : part) {
    while (j < whole.size() && whole[j].first != pid) ++j;
    if (j == whole.size() || (whole[j].second != name && whole[j].second.substr(0, 15) != name)) return false;
  }
  return true;
}

constexpr int kErrors[] = {EIO, EACCES, EPERM, EMFILE, ENOMEM, EINTR, EAGAIN, ENOENT, ESRCH};

// Each call of the walk, failed at each of its calls and from each on: a
// failed walk says why; one that lists lists nothing that is not there, and
// says what it left out, unless it was told the process has gone. A call
// cut short by a signal once is made again, and changes nothing.
TEST_F(FakeProc, AFailedCallOfTheWalkIsNeverAnAnswer) {
  AddProcess(1, "init");
  AddProcess(2, "averyveryverylo", 100, "/bin/averyveryverylong-name\0"s);
  AddProcess(3, "averyveryverylo", 100, "");
  Write("bin/averyveryverylong-exe (deleted)", "");  // a deleted executable: see ShowsNamesAsTheProcessListDoes
  fs::create_symlink("../bin/averyveryverylong-exe (deleted)", fs::path(root_) / "3/exe");
  AddProcess(4, "averyveryverylo", 100, "", 'S');
  // Its first thread has ended: the name is completed through another.
  AddProcess(5, "averyveryverylo", 100, "", 'Z');
  Write("5/stat", WithField(std::string(std::istreambuf_iterator<char>(std::ifstream(root_ + "/5/stat").rdbuf()), {}), 20, "2"));
  fs::create_directories(fs::path(root_) / "5/task/5");
  Write("5/task/6/cmdline", "/bin/averyveryverylong-thread\0"s);
  // An executable whose own name bears the mark of a deleted one.
  AddProcess(6, "averyveryverylo");
  Write("bin/averyveryverylong (deleted)", "");
  fs::create_symlink(root_ + "/bin/averyveryverylong (deleted)", fs::path(root_) / "6/exe");
  const Listing truth{{1, "init"}, {2, "averyveryverylong-name"}, {3, "averyveryverylong-exe"},
                      {4, "averyveryverylo"}, {5, "averyveryverylong-thread"}, {6, "averyveryverylong (deleted)"}};
  // The program's own number is read once for each /proc it is pointed at:
  // pointed elsewhere and back, each walk reads it again.
  auto walk = [this](Call call, int error, int nth, int times) {
    SetProcRoot("/proc");
    GetCurrentProcessId();
    SetProcRoot(root_.c_str());
    faults::Clear();
    if (call != Call::Count) faults::Fail(call, error, nth, times);
    return WalkAnswer();
  };
  for (const bool refused : {false, true}) {
    SetOpenat2Refused(refused);
    faults::Cleared cleared;
    const Answer clean = walk(Call::Count, 0, 0, 0);
    ASSERT_TRUE(clean.listed);
    ASSERT_EQ(clean.listing, truth);
    int calls[static_cast<int>(Call::Count)];
    for (int k = 0; k < static_cast<int>(Call::Count); ++k) calls[k] = faults::Calls(static_cast<Call>(k));
    for (int k = 0; k < static_cast<int>(Call::Count); ++k) {
      for (int n = 1; n <= calls[k]; ++n) {
        for (const int error : kErrors) {
          for (const int times : {1, 0}) {
            // A path said not to be there names no file: its mark is the kernel's.
            if (static_cast<Call>(k) == Call::Stat && error == ENOENT) continue;
            const Answer answer = walk(static_cast<Call>(k), error, n, times);
            faults::Clear();
            const std::string row = std::string(faults::NameOf(static_cast<Call>(k))) + " #" + std::to_string(n) +
                                    (times == 0 ? " on" : "") + ": " + std::strerror(error) +
                                    (refused ? ", no openat2" : "");
            // What it says is the reason the system gave.
            const bool gone = error == ENOENT || error == ESRCH;
            if (!answer.listed) {
              EXPECT_NE(answer.why.find(gone ? "" : std::strerror(error)), std::string::npos) << row << ": " << answer.why;
              continue;
            }
            if (!gone && !answer.unread.empty()) {
              EXPECT_NE(answer.unread.find(std::strerror(error)), std::string::npos) << row << ": " << answer.unread;
            }
            EXPECT_TRUE(WithinListing(answer.listing, truth)) << row;
            if (answer.listing.size() != truth.size() && !gone) {
              EXPECT_NE(answer.unread, "") << row;
            }
            if (times == 1 && error == EINTR && (k == static_cast<int>(Call::Read) || k == static_cast<int>(Call::Getdents))) {
              EXPECT_EQ(answer.listing, truth) << row;
            }
          }
        }
      }
    }
  }
}


// Whether the child has ended, as the kernel tells its parent; the child is
// collected once it has.
bool Ended(pid_t child, bool wait) {
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT | (wait ? 0 : WNOHANG)) != 0) return false;
  return info.si_pid == child;
}

// One child opened, terminated and waited for with a call failed: a failed
// open or termination leaves it running and does not call it gone; a
// termination that succeeded ends it; a wait that says it has ended is
// right, or says what it could not read.
// Without a call to fail (Call::Count), it counts the calls made.
std::string KillRow(Call call, int error, int nth, int times, bool noPidfd,
                    int (*calls)[static_cast<int>(Call::Count)] = nullptr) {
  const pid_t child = StartChild();
  if (child <= 0) return "no child";
  const auto pid = static_cast<std::uint32_t>(child);
  const Handle snapshot = WalkTo(pid);
  faults::Clear();
  if (noPidfd) faults::Fail(Call::PidfdOpen, ENOSYS, 1, 0);
  if (call != Call::Count) faults::Fail(call, error, nth, times);
  const Handle handle = OpenProcess(kProcessTerminate, 0, pid);
  const std::uint32_t openError = handle == kNullHandle ? GetLastError() : 0;
  const int terminated = handle == kNullHandle ? 0 : TerminateProcess(handle, kTerminateExitCode);
  const std::uint32_t terminateError = terminated == 0 ? GetLastError() : 0;
  bool ended = false;
  if (terminated != 0) WaitForProcesses(&handle, 1, 200, &ended);
  const bool unreadSaid = DescribeUnreadProcesses() != nullptr;
  for (int k = 0; calls != nullptr && k < static_cast<int>(Call::Count); ++k) (*calls)[k] = faults::Calls(static_cast<Call>(k));
  faults::Clear();
  if (handle != kNullHandle) CloseHandle(handle);
  CloseHandle(snapshot);
  const bool gone = error == ENOENT || error == ESRCH;
  std::string fault;
  if (handle == kNullHandle && openError == 87 && !gone) fault = "called gone when opened";
  if (handle != kNullHandle && terminated == 0 && terminateError == 87 && !gone) fault = "called gone when terminated";
  if (terminated == 0 && Ended(child, false)) fault += " ended though not terminated";
  if (terminated != 0 && !Ended(child, true)) fault += " terminated but running";
  if (ended && !Ended(child, false) && !unreadSaid) fault += " waited for but running";
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return fault;
}

// Each call, failed at each of its calls and from each on, with process
// descriptors to be had and without.
TEST(LinuxCallFaults, AFailedCallOfAKillIsNeverAnAnswer) {
  faults::Cleared cleared;
  for (const bool noPidfd : {false, true}) {
    int calls[static_cast<int>(Call::Count)];
    ASSERT_EQ(KillRow(Call::Count, 0, 1, 1, noPidfd, &calls), "");
    for (int k = 0; k < static_cast<int>(Call::Count); ++k) {
      if (noPidfd && static_cast<Call>(k) == Call::PidfdOpen) continue;
      for (int n = 1; n <= calls[k]; ++n) {
        for (const int error : {EIO, EACCES, EINVAL, EMFILE, EINTR, ENOENT, ESRCH}) {
          for (const int times : {1, 0}) {
            EXPECT_EQ(KillRow(static_cast<Call>(k), error, n, times, noPidfd), "")
                << faults::NameOf(static_cast<Call>(k)) << " #" << n << (times == 0 ? " on: " : ": ")
                << std::strerror(error) << (noPidfd ? ", no process descriptors" : "");
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace stopex
