// The Linux backend with each of its calls failed in turn: a failure is
// never an answer. What it lists is there under the name it bears, and what
// it leaves out it says it could not read, unless the failure said the
// process has gone.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
// kernel's 15 bytes of it where its executable was hidden from the walk, or
// where markMayGo, without a mark " (deleted)" that the look at its path
// was told names no file.
bool WithinListing(const Listing& part, const Listing& whole, bool markMayGo) {
  std::size_t j = 0;
  for (const auto& [pid, name] : part) {
    while (j < whole.size() && whole[j].first != pid) ++j;
    if (j == whole.size()) return false;
    const std::string& truth = whole[j].second;
    const bool unmarked = markMayGo && truth.ends_with(" (deleted)") && truth.substr(0, truth.size() - 10) == name;
    if (truth != name && truth.substr(0, 15) != name && !unmarked) return false;
  }
  return true;
}

constexpr int kErrors[] = {EIO, EACCES, EPERM, EMFILE, ENOMEM, EINTR, EAGAIN, ENOENT, ESRCH, ELOOP};

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
  fs::create_symlink("/", fs::path(root_) / "6/root");
  const Listing truth{{1, "init"}, {2, "averyveryverylong-name"}, {3, "averyveryverylong-exe"},
                      {4, "averyveryverylo"}, {5, "averyveryverylong-thread"}, {6, "averyveryverylong (deleted)"}};
  // The program's own number is read once for each /proc it is pointed at:
  // pointed elsewhere and back, each walk reads it again. A filter may
  // refuse openat2 altogether.
  bool refused = false;
  auto walk = [&](Call call, int error, int nth, int times, Call refusedToo = Call::Count) {
    SetProcRoot("/proc");
    GetCurrentProcessId();
    SetProcRoot(root_.c_str());
    faults::Clear();
    if (refused) faults::Fail(Call::Openat2, ENOSYS, 1, 0);
    if (refusedToo != Call::Count) faults::Fail(refusedToo, ENOMEM, 1, 0);
    if (call != Call::Count && error == 0) faults::ZeroAt(call, nth);
    if (call != Call::Count && error != 0) faults::Fail(call, error, nth, times);
    return WalkAnswer();
  };
  for (const bool openat2Refused : {false, true}) {
    refused = openat2Refused;
    faults::Cleared cleared;
    const Answer clean = walk(Call::Count, 0, 0, 0);
    ASSERT_TRUE(clean.listed);
    ASSERT_EQ(clean.listing, truth);
    int calls[static_cast<int>(Call::Count)];
    for (int k = 0; k < static_cast<int>(Call::Count); ++k) calls[k] = faults::Calls(static_cast<Call>(k));
    // Where openat2 serves, each file is opened with that one call, never looked at first.
    if (!refused) {
      EXPECT_EQ(calls[static_cast<int>(Call::Statx)], 0);
    }
    for (int k = 0; k < static_cast<int>(Call::Count); ++k) {
      if (refused && static_cast<Call>(k) == Call::Openat2) continue;
      for (int n = 1; n <= calls[k]; ++n) {
        for (const int error : kErrors) {
          for (const int times : {1, 0}) {
            const Answer answer = walk(static_cast<Call>(k), error, n, times);
            faults::Clear();
            const std::string row = std::string(faults::NameOf(static_cast<Call>(k))) + " #" + std::to_string(n) +
                                    (times == 0 ? " on" : "") + ": " + std::strerror(error) +
                                    (refused ? ", no openat2" : "");
            // What it says is the reason the system gave.
            const bool gone = error == ENOENT || error == ESRCH;
            // Its own number, the first link read, that cannot be read fails the walk.
            if (static_cast<Call>(k) == Call::Readlink && n == 1 && !gone) {
              EXPECT_EQ(answer.why, root_ + "/self: " + std::strerror(error)) << row;
            }
            if (!answer.listed) {
              EXPECT_NE(answer.why.find(gone ? "" : std::strerror(error)), std::string::npos) << row << ": " << answer.why;
              continue;
            }
            if (!gone && !answer.unread.empty()) {
              EXPECT_NE(answer.unread.find(std::strerror(error)), std::string::npos) << row << ": " << answer.unread;
            }
            EXPECT_TRUE(WithinListing(answer.listing, truth, static_cast<Call>(k) == Call::Fstat && (gone || error == ELOOP)))
                << row;
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
    // Each descriptor it opens numbered 0, as where standard input is closed:
    // the same answer, and nothing left open, a folder that could not be
    // listed included.
    for (const Call call : {Call::Open, Call::Openat2}) {
      for (int n = 1; n <= calls[static_cast<int>(call)]; ++n) {
        const Answer answer = walk(call, 0, n, 1);
        const int looks = faults::Calls(Call::Statx);
        EXPECT_TRUE(faults::ZeroFree()) << faults::NameOf(call) << " #" << n << " numbered 0 and left open";
        walk(call, 0, n, 1, Call::Opendir);
        const bool lent = faults::Calls(call) >= n;  // the walk made that call
        EXPECT_TRUE(!lent || faults::ZeroFree()) << faults::NameOf(call) << " #" << n << " numbered 0 and left open";
        faults::Clear();
        EXPECT_EQ(answer.listing, truth) << faults::NameOf(call) << " #" << n << " numbered 0";
        EXPECT_TRUE(refused || looks == 0) << faults::NameOf(call) << " #" << n << " numbered 0: openat2 not used";
        EXPECT_EQ(answer.unread, "") << faults::NameOf(call) << " #" << n << " numbered 0";
      }
    }
    // A read cut short by a signal is made again, up to 8 times in a row.
    for (const int times : {8, 9}) {
      const Answer answer = walk(Call::Read, EINTR, 1, times);
      faults::Clear();
      EXPECT_EQ(answer.listed && answer.listing == truth && answer.unread.empty(), times == 8) << times;
    }
  }
  // Out of descriptors, the soft limit is raised to the hard one and the open
  // made again; where it cannot be, the walk says why.
  rlimit files{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  const rlimit lower{files.rlim_cur < files.rlim_max ? files.rlim_cur : files.rlim_max - 1, files.rlim_max};
  for (const bool raised : {false, true}) {
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, raised ? &files : &lower), 0);
    const rlimit before = raised ? files : lower;
    const Answer answer = walk(Call::Open, EMFILE, 1, 1);
    faults::Clear();
    EXPECT_EQ(answer.listed, before.rlim_cur < before.rlim_max) << answer.why;
    if (!answer.listed) {
      EXPECT_EQ(answer.why, root_ + ": Too many open files");
    }
  }
  // A look at the path of a deleted executable told that it names no file
  // takes the mark for the kernel's; one refused leaves the record unread.
  for (const int error : {ENOENT, ENOTDIR, ELOOP, ENAMETOOLONG, EACCES}) {
    faults::Clear();
    faults::FailWhere(Call::Fstat, "/root/", error);
    const Answer answer = WalkAnswer();
    faults::Clear();
    Listing expected = truth;
    if (error == EACCES) expected.pop_back();
    if (error != EACCES) expected.back().second = "averyveryverylong";
    EXPECT_EQ(answer.listing, expected) << std::strerror(error);
    EXPECT_EQ(answer.unread, error == EACCES ? "1 process could not be read: Permission denied" : "");
  }
  // An executable hidden from this user, or gone with the process's memory,
  // leaves the name the kernel keeps.
  for (const int error : {EACCES, EPERM, ENOENT}) {
    faults::Clear();
    faults::FailWhere(Call::Openat2, "/exe", error);  // the link, opened to be read
    const Answer answer = WalkAnswer();
    faults::Clear();
    Listing expected = truth;
    expected[2].second = expected[5].second = "averyveryverylo";  // named by their executables alone
    EXPECT_EQ(answer.listing, expected) << std::strerror(error);
    EXPECT_EQ(answer.unread, "") << std::strerror(error);
  }
  // Another failure is not made again, whatever the limit.
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lower), 0);
  const Answer refusedRoot = walk(Call::Open, EACCES, 1, 1);
  faults::Clear();
  EXPECT_EQ(refusedRoot.why, root_ + ": Permission denied");
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
}

// Without openat2, a file is read only where it lies on the mount of the
// root it is read below: by the mount id where the kernel gives one (a
// user-mode emulator may give 0), else by the device; never the root of a
// mount of its own.
TEST_F(FakeProc, WithoutOpenat2AFileIsReadOnlyOnTheRootsMount) {
  faults::Cleared cleared;
  AddProcess(1, "init");
  using Change = void (*)(struct statx*);
  // The looks made: the root's (1), the program's own status (2), then the
  // record of process 1 (3).
  const struct {
    int look;
    Change change;
    bool read;
  } rows[] = {
      {3, [](struct statx* s) { s->stx_mnt_id += 1; }, false},
      {3, [](struct statx* s) { s->stx_mnt_id = 0; }, true},
      {3, [](struct statx* s) { s->stx_mask &= ~STATX_MNT_ID; s->stx_mnt_id += 1; }, true},
      {3, [](struct statx* s) { s->stx_mnt_id = 0; s->stx_dev_minor += 1; }, false},
      {3, [](struct statx* s) { s->stx_mask &= ~STATX_MNT_ID; s->stx_dev_major += 1; }, false},
      {1, [](struct statx* s) { s->stx_mnt_id += 1000; s->stx_mask &= ~STATX_MNT_ID; }, true},  // the device decides
      {1, [](struct statx* s) { s->stx_mnt_id = 0; s->stx_dev_minor += 1; }, false},
      {3, [](struct statx* s) {
         s->stx_attributes_mask |= STATX_ATTR_MOUNT_ROOT;
         s->stx_attributes |= STATX_ATTR_MOUNT_ROOT;
       }, false},
  };
  for (const auto& row : rows) {
    faults::Clear();
    faults::Fail(Call::Openat2, ENOSYS, 1, 0);
    faults::ChangeStatx(row.look, row.change);
    const Answer answer = WalkAnswer();
    faults::Clear();
    const Listing read{{1, "init"}};
    EXPECT_EQ(answer.listing, row.read ? read : Listing()) << &row - rows;
    EXPECT_EQ((answer.unread + answer.why).find("Invalid cross-device link") != std::string::npos, !row.read)
        << &row - rows << ": " << answer.unread << answer.why;
  }
  // The file opened is not the one looked at (replaced in between): not read.
  for (const auto change : {+[](struct stat* s) { s->st_ino += 1; }, +[](struct stat* s) { s->st_dev += 1; }}) {
    faults::Clear();
    faults::Fail(Call::Openat2, ENOSYS, 1, 0);
    faults::ChangeFstat(2, change);  // the program's own status (1), then process 1's record
    const Answer answer = WalkAnswer();
    faults::Clear();
    EXPECT_EQ(answer.unread, "1 process could not be read: Invalid cross-device link");
  }
}


// Whether the child has ended, as the kernel tells its parent, which has
// not collected it.
bool Ended(pid_t child) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT | WNOHANG) == 0 && info.si_pid == child;
}

// Whether it ends within a few seconds: a SIGKILL ends it at once, and the
// bound only keeps a fault in the test from hanging it.
bool Ends(pid_t child) {
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  pollfd descriptor{fd, POLLIN, 0};
  const bool ended = fd >= 0 && poll(&descriptor, 1, 10000) > 0;
  close(fd);
  return ended;
}

// How a kill is made: without process descriptors, or from a /proc the
// test writes for each child (the number it lists the child under).
struct KillCase {
  bool noPidfd = false;
  bool inputClosed = false;  // standard input closed as it is opened: its descriptor may be 0
  std::function<std::uint32_t(pid_t child)> list = [](pid_t child) { return static_cast<std::uint32_t>(child); };
};

// When a fault begins: at the open, once the process is open, or once it
// has ended after its signal, as the wait for it begins.
enum class From { Open, Terminate, Wait };

// A call to fail: at its nth call and times times (0: every time from
// there), or, with where, at every call on a path that holds it. Call::Count:
// none.
struct KillFault {
  Call call = Call::Count;
  int error = 0;
  int nth = 1;
  int times = 1;
  const char* where = nullptr;
  From from = From::Open;
};

// What one kill of a child of the test answered, and what the kernel says.
struct KillAnswer {
  std::uint32_t openError = 0;       // 0: opened
  std::uint32_t terminateError = 0;  // 0: terminated, or not opened
  std::string why;                   // what the failure's code does not say
  bool terminated = false;
  bool waited = false;  // the wait said it had ended
  bool ended = false;   // it had, as its parent knows right then
  bool unreadSaid = false;
  std::string unread;  // what it said
  bool endsSoon = false;  // after a successful termination: it ends
  bool leftOpen = false;  // a descriptor numbered 0 was left open
};

// One child opened, terminated and waited for, with the fault; the calls
// made, where asked for.
KillAnswer Kill(const KillCase& how, std::initializer_list<KillFault> faultsMade,
                int (*calls)[static_cast<int>(Call::Count)] = nullptr) {
  KillAnswer answer;
  const pid_t child = StartChild();
  if (child <= 0) return answer;
  const std::uint32_t pid = how.list(child);
  const Handle snapshot = WalkTo(pid);
  faults::Clear();
  if (how.noPidfd) faults::Fail(Call::PidfdOpen, ENOSYS, 1, 0);
  auto fail = [&](From from) {
    for (const KillFault& fault : faultsMade) {
      if (fault.from != from || fault.call == Call::Count) continue;
      if (fault.where != nullptr) faults::FailWhere(fault.call, fault.where, fault.error);
      if (fault.where == nullptr) faults::Fail(fault.call, fault.error, fault.nth, fault.times);
    }
  };
  fail(From::Open);
  const int input = how.inputClosed ? dup(0) : -1;
  if (how.inputClosed) close(0);
  const Handle handle = OpenProcess(kProcessTerminate, 0, pid);
  fail(From::Terminate);
  answer.openError = handle == kNullHandle ? GetLastError() : 0;
  if (handle == kNullHandle && DescribeLastError() != nullptr) answer.why = DescribeLastError();
  answer.terminated = handle != kNullHandle && TerminateProcess(handle, kTerminateExitCode) != 0;
  answer.terminateError = handle != kNullHandle && !answer.terminated ? GetLastError() : 0;
  if (answer.terminated && std::any_of(faultsMade.begin(), faultsMade.end(), [](auto& f) { return f.from == From::Wait; })) {
    siginfo_t info{};  // it has ended before the wait looks
    waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
    fail(From::Wait);
  }
  if (answer.terminated) WaitForProcesses(&handle, 1, 50, &answer.waited);
  answer.ended = Ended(child);
  answer.unreadSaid = DescribeUnreadProcesses() != nullptr;
  if (answer.unreadSaid) answer.unread = DescribeUnreadProcesses();
  for (int k = 0; calls != nullptr && k < static_cast<int>(Call::Count); ++k) (*calls)[k] = faults::Calls(static_cast<Call>(k));
  faults::Clear();
  if (handle != kNullHandle) CloseHandle(handle);
  CloseHandle(snapshot);
  if (how.inputClosed) {
    answer.leftOpen = fcntl(0, F_GETFD) != -1;
    dup2(input, 0);
    close(input);
  }
  answer.endsSoon = answer.terminated && Ends(child);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return answer;
}

// What is wrong with a kill under a fault: a failed open or termination
// leaves the child running and does not call it gone; a termination that
// succeeded ends it; a wait that says it has ended is right, or says what
// it could not read.
std::string KillRow(const KillCase& how, const KillFault& fault, int (*calls)[static_cast<int>(Call::Count)] = nullptr) {
  const KillAnswer answer = Kill(how, {fault}, calls);
  const bool gone = fault.error == ENOENT || fault.error == ESRCH;
  std::string wrong;
  if (answer.openError == 87 && !gone) wrong = "called gone when opened";
  if (answer.terminateError == 87 && !gone) wrong = "called gone when terminated";
  if (!answer.terminated && answer.ended) wrong += " ended though not terminated";
  if (answer.waited && !answer.ended && !answer.unreadSaid && !gone) wrong += " waited for but running";
  if (answer.terminated && !answer.endsSoon) wrong += " terminated but running";
  return wrong;
}

// Each call of the kill, failed at each of its calls and from each on.
void KillEachCallFailed(const KillCase& how) {
  int calls[static_cast<int>(Call::Count)];
  ASSERT_EQ(KillRow(how, {}, &calls), "");
  for (int k = 0; k < static_cast<int>(Call::Count); ++k) {
    if (how.noPidfd && static_cast<Call>(k) == Call::PidfdOpen) continue;
    for (int n = 1; n <= calls[k]; ++n) {
      for (const int error : {EIO, EACCES, EINVAL, EMFILE, EINTR, ENOENT, ESRCH}) {
        for (const int times : {1, 0}) {
          EXPECT_EQ(KillRow(how, {static_cast<Call>(k), error, n, times}), "")
              << faults::NameOf(static_cast<Call>(k)) << " #" << n << (times == 0 ? " on: " : ": ")
              << std::strerror(error) << (how.noPidfd ? ", no process descriptors" : "");
        }
      }
    }
  }
}

TEST(LinuxCallFaults, AFailedCallOfAKillIsNeverAnAnswer) {
  faults::Cleared cleared;
  KillEachCallFailed({});
  KillEachCallFailed({.noPidfd = true});
}

// The answers a fault must give: no false "gone" where a number is what
// failed, and with a process descriptor, a signal that needs no read. Where
// the program's standard input is closed, a descriptor may be 0.
TEST(LinuxCallFaults, AKillUnderAFaultAnswersSo) {
  faults::Cleared cleared;
  // Without descriptors: a signal 0 that finds the process gone, refused.
  EXPECT_EQ(Kill({.noPidfd = true}, {{Call::Kill, ESRCH, 2}}).openError, 87u);
  EXPECT_EQ(Kill({.noPidfd = true}, {{Call::Kill, EPERM, 1}}).openError, 5u);
  // Where the descriptors open cannot be counted, a process descriptor is
  // taken all the same; where the limit cannot be read, none is, and the
  // process is held by number.
  int calls[static_cast<int>(Call::Count)];
  EXPECT_TRUE(Kill({}, {{Call::Readdir, EIO}}, &calls).terminated);
  EXPECT_EQ(calls[static_cast<int>(Call::PidfdOpen)], 1);
  EXPECT_TRUE(Kill({}, {{.call = Call::Rlimit, .error = EIO, .times = 0}}, &calls).terminated);
  EXPECT_EQ(calls[static_cast<int>(Call::PidfdOpen)], 0);
  // A poll cut short by a signal is made again, 3 times in a row; then the
  // process is held by number, and its record read.
  Kill({}, {{.from = From::Wait}}, &calls);
  const int reads = calls[static_cast<int>(Call::Read)];
  for (const int error : {EINTR, EAGAIN}) {
    for (const int times : {3, 4}) {
      EXPECT_TRUE(Kill({}, {{.call = Call::Poll, .error = error, .times = times, .from = From::Wait}}, &calls).waited);
      EXPECT_EQ(calls[static_cast<int>(Call::Read)] > reads, times == 4) << times << std::strerror(error);
    }
  }
  // A descriptor numbered 0 that cannot be polled any more: held by number.
  EXPECT_TRUE(Kill({.inputClosed = true}, {{.call = Call::Poll, .error = EIO, .times = 0, .from = From::Wait}}).waited);
  // Held by its descriptor, it is signalled and waited for through that alone.
  for (const bool closed : {false, true}) {
    for (const Call call : {Call::Read, Call::Kill}) {
      const KillAnswer answer =
          Kill({.inputClosed = closed}, {{.call = call, .error = EPERM, .times = 0, .from = From::Terminate}});
      EXPECT_TRUE(answer.terminated && answer.waited && !answer.unreadSaid) << closed << faults::NameOf(call);
      EXPECT_FALSE(answer.leftOpen);
    }
  }
  // The wait by number: a record read once more where a read failed once;
  // one never read, of a process whose executable is gone, counts as ended
  // and is said; one whose executable cannot be looked at is asked by a
  // signal 0, and has ended where that finds it gone.
  const KillCase byNumber{.noPidfd = true};
  const KillFault unread{.call = Call::Read, .error = EIO, .times = 0, .from = From::Wait};
  const KillAnswer once = Kill(byNumber, {{.call = Call::Read, .error = EIO, .from = From::Wait}});
  EXPECT_TRUE(once.waited && !once.unreadSaid);
  const KillAnswer never = Kill(byNumber, {unread});
  EXPECT_TRUE(never.waited && never.unreadSaid);
  EXPECT_EQ(never.unread, "1 process could not be read: Input/output error");
  const KillAnswer asked =
      Kill(byNumber, {unread, {.call = Call::Fstat, .error = EIO, .times = 0, .from = From::Wait},
                      {.call = Call::Kill, .error = ESRCH, .times = 0, .from = From::Wait}});
  EXPECT_TRUE(asked.waited && !asked.unreadSaid);
  // An ended process that has not been collected answers a signal 0: not seen to end.
  const KillAnswer answered =
      Kill(byNumber, {unread, {.call = Call::Fstat, .error = ESRCH, .times = 0, .from = From::Wait}});
  EXPECT_FALSE(answered.waited);
}

// The entry the walk handed out last is opened only while its snapshot is
// open.
TEST(LinuxCallFaults, AnEntryIsOpenedOnlyWhileItsSnapshotIsOpen) {
  const pid_t child = StartChild();
  const Handle snapshot = WalkTo(static_cast<std::uint32_t>(child));
  CloseHandle(snapshot);
  EXPECT_EQ(OpenProcess(kProcessTerminate, 0, static_cast<std::uint32_t>(child)), kNullHandle);
  EXPECT_EQ(GetLastError(), 87u);
  EXPECT_FALSE(Ended(child));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

// A handle that is not an open process's (a snapshot's, one never handed
// out) is refused, and nothing is signalled.
TEST(LinuxCallFaults, OnlyAnOpenProcesssHandleIsTerminated) {
  const pid_t children[] = {StartChild(), StartChild()};
  Handle held[2];
  for (int i = 0; i < 2; ++i) {
    const Handle snapshot = WalkTo(static_cast<std::uint32_t>(children[i]));
    held[i] = OpenProcess(kProcessTerminate, 0, static_cast<std::uint32_t>(children[i]));
    CloseHandle(snapshot);
    ASSERT_NE(held[i], kNullHandle);
  }
  const Handle snapshot = BindProcessApi().CreateToolhelp32Snapshot(kSnapProcess, 0);
  for (Handle handle = 0; handle < 64; ++handle) {
    if (handle == held[0] || handle == held[1]) continue;
    EXPECT_EQ(TerminateProcess(handle, kTerminateExitCode), 0) << handle;
    EXPECT_EQ(GetLastError(), 6u) << handle;
  }
  EXPECT_EQ(TerminateProcess(kInvalidHandleValue, kTerminateExitCode), 0);
  CloseHandle(snapshot);
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(Ended(children[i])) << i;
    CloseHandle(held[i]);
    kill(children[i], SIGKILL);
    waitpid(children[i], nullptr, 0);
  }
}

// The room for process descriptors is counted again as they are held: the
// second process of a run, opened where the first took the last room under
// the soft limit, has the limit raised for it (in a child of the test,
// whose limit it may change).
TEST(LinuxCallFaults, RoomForADescriptorIsCountedAgainAsTheyAreHeld) {
  const pid_t tester = fork();
  if (tester == 0) {
    const pid_t first = StartChild();
    const pid_t second = StartChild();
    const std::size_t open = OpenDescriptors();  // the walk's root is one more
    const rlimit limit{open + 1 + 64 + 1, open + 64 + 10};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) std::_Exit(1);
    faults::Clear();
    Handle held[2];
    int code = 0;
    for (int i = 0; i < 2; ++i) {
      const auto pid = static_cast<std::uint32_t>(i == 0 ? first : second);
      const Handle snapshot = WalkTo(pid);
      held[i] = OpenProcess(kProcessTerminate, 0, pid);
      CloseHandle(snapshot);
      if (held[i] == kNullHandle) code = 2;
    }
    if (faults::Calls(Call::PidfdOpen) != 2) code = 3;  // each held by a descriptor
    kill(first, SIGKILL);
    kill(second, SIGKILL);
    std::_Exit(code);
  }
  int status = -1;
  ASSERT_EQ(waitpid(tester, &status, 0), tester);
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Where /proc shows the namespace above, the child is listed under another
// number, which its process descriptor must confirm (its fdinfo).
class NamespaceAbove : public FakeProc {
 protected:
  void SetUp() override {
    FakeProc::SetUp();
    const std::string self = std::to_string(getpid());
    const std::string listed = std::to_string(kListed);
    Write(self + "/status", "Pid:\t" + std::to_string(kListed + 1) + "\nNSpid:\t" + std::to_string(kListed + 1) + "\t" + self + "\n");
    for (int fd = 3; fd < 64; ++fd) Write(self + "/fdinfo/" + std::to_string(fd), "Pid:\t" + listed + "\n");
  }
  KillCase Case() {
    return {.list = [this](pid_t child) {
      std::ifstream real("/proc/" + std::to_string(child) + "/stat");
      const std::string line(std::istreambuf_iterator<char>(real), {});
      const std::string dir = std::to_string(kListed);
      Write(dir + "/stat", dir + line.substr(line.find(' ')));
      Write(dir + "/cmdline", "");
      Write(dir + "/status", "Pid:\t" + dir + "\nNSpid:\t" + dir + "\t" + std::to_string(child) + "\n");
      return kListed;
    }};
  }
  static constexpr std::uint32_t kListed = 7000001;
};

TEST_F(NamespaceAbove, AFailedCallOfAKillIsNeverAnAnswer) {
  faults::Cleared cleared;
  KillEachCallFailed(Case());
}

// What only a descriptor can confirm is not signalled where none confirms
// it, and the reason is said: its fdinfo not to be read, or no descriptor
// to be had (refused, or none left, also for the read).
TEST_F(NamespaceAbove, AKillUnderAFaultAnswersSo) {
  faults::Cleared cleared;
  const struct {
    KillFault fault;
    std::uint32_t openError;
    const char* why;
  } rows[] = {
      {{.call = Call::Openat2, .error = EMFILE, .where = "fdinfo"}, 5, "was left to open (too many open files)"},
      {{.call = Call::Openat2, .error = EIO, .where = "fdinfo"}, 5, "does not say which of its processes is which"},
      {{Call::PidfdOpen, EMFILE}, 5, "was left to open (too many open files)"},
      {{Call::PidfdOpen, EPERM}, 5, "(refused, or a kernel without them)"},
  };
  for (const auto& row : rows) {
    const KillAnswer answer = Kill(Case(), {row.fault});
    EXPECT_EQ(answer.openError, row.openError) << faults::NameOf(row.fault.call) << " " << row.fault.error;
    EXPECT_NE(answer.why.find(row.why), std::string::npos) << answer.why;
  }
}

// A look at /proc itself that fails says why, not what /proc is.
TEST(LinuxCallFaults, ALookAtProcThatFailsSaysWhy) {
  faults::Cleared cleared;
  for (const Call call : {Call::Fstatfs, Call::Fstat}) {
    faults::Fail(call, EIO);
    EXPECT_EQ(BindProcessApi().CreateToolhelp32Snapshot(kSnapProcess, 0), kInvalidHandleValue);
    faults::Clear();
    EXPECT_STREQ(DescribeLastError(), "/proc: Input/output error") << faults::NameOf(call);
  }
}

// A record costs one read of its stat line, which the kernel writes whole
// at once; of an argument block, only what holds the first argument.
TEST_F(FakeProc, ReadsNoMoreThanItNeeds) {
  faults::Cleared cleared;
  auto reads = [] {
    faults::Clear();
    const Answer answer = WalkAnswer();
    return std::pair{answer.listing.size(), faults::Calls(Call::Read)};
  };
  AddProcess(1, "init");
  const auto one = reads();
  AddProcess(2, "sleep");
  const auto two = reads();
  EXPECT_EQ(two.first, one.first + 1);
  EXPECT_EQ(two.second, one.second + 1);
  // A first argument that ends before the block runs past any argument's length.
  const std::size_t most = 32 * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  AddProcess(3, "averyveryverylo", 100, "/x/averyveryverylong-q\0"s + std::string(most, 'a') + "\0"s);
  const Listing three{{1, "init"}, {2, "sleep"}, {3, "averyveryverylong-q"}};
  EXPECT_EQ(WalkAnswer().listing, three);
}

// The look at hidepid with each descriptor it opens numbered 0, as where
// standard input is closed: the same answer.
TEST_F(FakeProc, HidingIsToldWhateverNumberItsDescriptorsBear) {
  faults::Cleared cleared;
  Write(std::to_string(getpid()) + "/mountinfo", "22 1 0:21 / " + root_ + " rw - proc proc rw,hidepid=2\n");
  for (const Call call : {Call::Open, Call::Openat2}) {
    for (const int nth : {1, 2}) {
      faults::ZeroAt(call, nth);
      const char* why = DescribeHiddenProcesses();
      const bool closed = fcntl(0, F_GETFD) == -1;
      faults::Clear();
      EXPECT_STREQ(why, "/proc is mounted with hidepid: other users' processes are hidden from this one")
          << faults::NameOf(call) << " #" << nth;
      EXPECT_TRUE(closed) << faults::NameOf(call) << " #" << nth << ": a descriptor left open";
    }
  }
  // Its files not to be opened, below a root of their own or at all: unknown.
  const std::string unknown = "whether /proc hides other users' processes is unknown: " + root_;
  const struct {
    Call call;
    int nth;
    std::string why;
  } rows[] = {{Call::Open, 1, unknown + "/self/mountinfo: Input/output error"},  // the roots, then each file
              {Call::Openat2, 2, unknown + "/self/mountinfo: Input/output error"},  // below its root's probe
              {Call::Open, 2, unknown + "/self/status: Input/output error"},
              {Call::Openat2, 4, unknown + "/self/status: Input/output error"}};
  for (const auto& row : rows) {
    faults::Fail(row.call, EIO, row.nth);
    const char* why = DescribeHiddenProcesses();
    faults::Clear();
    EXPECT_EQ(why != nullptr ? why : "", row.why);
  }
}

// Where a group sees every process, the program's groups that cannot be
// read leave unknown whether any is hidden from it.
TEST_F(FakeProc, GroupsThatCannotBeReadLeaveHidingUnknown) {
  faults::Cleared cleared;
  Write(std::to_string(getpid()) + "/mountinfo", "22 1 0:21 / " + root_ + " rw - proc proc rw,hidepid=2,gid=3999999999\n");
  const std::string unknown = "whether /proc hides other users' processes is unknown: the groups of this process: ";
  faults::Fail(Call::Getgroups, EIO);
  const char* why = DescribeHiddenProcesses();
  faults::Clear();
  EXPECT_EQ(why != nullptr ? why : "", unknown + "Input/output error");
  // The second call, which reads them, where there are some: set in a child, as root may.
  if (geteuid() == 0) {
    const pid_t child = fork();
    if (child == 0) {
      const gid_t groups[] = {3999999998};
      const bool set = setgroups(1, groups) == 0;
      faults::Fail(Call::Getgroups, ENOMEM, 2);
      std::_Exit(set && DescribeHiddenProcesses() == unknown + "Cannot allocate memory" ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
  }
}

// Where /proc refuses other users' processes by design (hidepid=noaccess),
// a refusal of a process of this user's own is none of its doing, and is
// said; where it leaves theirs out, no refusal is its doing.
TEST_F(FakeProc, ARefusalIsTakenForHidepidsOnlyOfAnotherUsersProcess) {
  faults::Cleared cleared;
  AddProcess(6000001, "mine");  // numbers above any the kernel gives: never this program's own
  AddProcess(6000002, "theirs");
  AddProcess(6000003, "theirs too");
  ASSERT_EQ(chown((root_ + "/6000002").c_str(), 4000, 4000), 0);
  ASSERT_EQ(chown((root_ + "/6000003").c_str(), 4000, 4000), 0);
  for (const std::string mode : {"noaccess", "invisible"}) {
    Write(std::to_string(getpid()) + "/mountinfo", "22 1 0:21 / " + root_ + " rw - proc proc rw,hidepid=" + mode + "\n");
    const ProcessApi api = BindProcessApi();
    ProcessEntry entry;
    entry.dwSize = ProcessEntrySize();
    const Handle snapshot = api.CreateToolhelp32Snapshot(kSnapProcess, 0);
    faults::Fail(Call::Openat2, EACCES, 1, 0);  // each record refused, this program's own too
    faults::Fail(Call::Open, EACCES, 1, 0);
    EXPECT_EQ(api.Process32First(snapshot, &entry), 0);
    faults::Clear();
    const char* unread = DescribeUnreadProcesses();
    EXPECT_STREQ(unread, mode == "noaccess" ? "2 processes could not be read: Permission denied"
                                            : "4 processes could not be read: Permission denied");
    CloseHandle(snapshot);
  }
  // Of their records, only a refusal is hidepid's; where refusals are
  // counted, the first is said.
  const struct {
    const char* mode;
    int error;  // the first record's; the second is refused (EACCES)
    const char* unread;
  } rows[] = {{"invisible", EPERM, "2 processes could not be read: Operation not permitted"},
              {"noaccess", EIO, "1 process could not be read: Input/output error"}};
  for (const auto& [mode, error, said] : rows) {
    Write(std::to_string(getpid()) + "/mountinfo", "22 1 0:21 / " + root_ + " rw - proc proc rw,hidepid=" + mode + "\n");
    const ProcessApi api = BindProcessApi();
    ProcessEntry entry;
    entry.dwSize = ProcessEntrySize();
    const Handle snapshot = api.CreateToolhelp32Snapshot(kSnapProcess, 0);
    faults::FailWhere(Call::Openat2, "6000002/", error);
    faults::FailWhere(Call::Openat2, "6000003/", EACCES);
    while (api.Process32Next(snapshot, &entry) != 0) {
    }
    faults::Clear();
    EXPECT_STREQ(DescribeUnreadProcesses(), said) << mode;
    CloseHandle(snapshot);
  }
}

}  // namespace
}  // namespace stopex
