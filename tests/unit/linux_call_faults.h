// Failing the Linux backend's calls into the C library on a test's word. The
// backend's test executable is linked with --wrap for each call named here,
// so that the backend's references reach wrappers that make the real call
// unless a fault is set for it. A fault set also fails the test's own calls
// of that name until it is cleared: set one, make the call under test, clear.
#pragma once

struct stat;
struct statx;

namespace stopex::faults {

enum class Call {
  Open,       // open, and openat below a /proc root
  Openat2,    // the openat2 system call
  Statx,
  Fstat,      // fstat, fstatat
  Fstatfs,
  Stat,
  Read,
  Readlink,   // readlink, readlinkat
  Getdents,   // the getdents64 system call
  Opendir,    // opendir, fdopendir
  Readdir,
  Rlimit,     // getrlimit, setrlimit
  Kill,
  Poll,
  PidfdOpen,
  PidfdSignal,
  Getgroups,
  Faccessat,
  Nanosleep,
  Count
};

// The call fails with error from its nth call after this one on (1: the
// next), times times (0: every time); a call that lists returns null.
void Fail(Call call, int error, int nth = 1, int times = 1);

// Every call of the kind on a path that holds part fails with error (the
// open-like calls, the looks at a file and openat2; part outlives the fault),
// beside the faults set otherwise; four such at most.
void FailWhere(Call call, const char* part, int error);

// The nth call of the kind after this one (an open-like call) is made with
// descriptor 0 free, so that what it opens is numbered 0, as where the
// program's standard input is closed. Clear gives standard input back.
void ZeroAt(Call call, int nth);

// Whether descriptor 0 was freed for such a call, and is so still.
bool ZeroFree();

// What the kernel answers the nth statx, or fstat, after this one is handed
// to change before the caller sees it.
void ChangeStatx(int nth, void (*change)(struct statx* seen));
void ChangeFstat(int nth, void (*change)(struct stat* info));

// No call fails from here on; the counts start again from 0.
void Clear();

// How many calls of the kind were made since the last Clear.
int Calls(Call call);

// The name of a kind, as a failed row names it.
const char* NameOf(Call call);

// Clears when it goes out of scope: a fault never outlives its test.
struct Cleared {
  Cleared() { Clear(); }
  ~Cleared() { Clear(); }
  Cleared(const Cleared&) = delete;
  Cleared& operator=(const Cleared&) = delete;
};

}  // namespace stopex::faults
