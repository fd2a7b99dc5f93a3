// The stack protector's guard and its failure on Windows, and the entry point
// that makes the guard random for each run before any protected code runs.
// Built without the protector itself (cmake/hardening.cmake).
#include <windows.h>

#include <cstdint>

namespace {

// The value a run keeps when it did not start in StopexStart (the test
// programs): still not zero, so that a plain string copy cannot forge it.
constexpr std::uintptr_t kUnseeded = static_cast<std::uintptr_t>(0x5EC0A1D3F00DB175ULL);

// What the process is told when a frame's canary no longer matches.
constexpr UINT kStackBufferOverrun = 0xC0000409u;

// Folds a 64-bit value into the guard's width.
__attribute__((no_stack_protector)) std::uintptr_t Fold(std::uint64_t value) {
  if constexpr (sizeof(std::uintptr_t) == 8) {
    return static_cast<std::uintptr_t>(value);
  } else {
    return static_cast<std::uintptr_t>(value ^ (value >> 32));
  }
}

// A fresh value from what KERNEL32 has offered since XP: the time of day to
// the 100 ns, the process and thread ids, the tick count, the performance
// counter, and where the stack lies; mixed as the platform's compilers mix
// their cookie.
__attribute__((no_stack_protector)) std::uintptr_t FreshGuard() {
  FILETIME time;
  GetSystemTimeAsFileTime(&time);
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  std::uint64_t value = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  value ^= static_cast<std::uint64_t>(GetCurrentProcessId()) << 16;
  value ^= static_cast<std::uint64_t>(GetCurrentThreadId()) << 32;
  value ^= GetTickCount();
  value ^= static_cast<std::uint64_t>(counter.QuadPart) << 32 ^ static_cast<std::uint64_t>(counter.QuadPart);
  value ^= reinterpret_cast<std::uintptr_t>(&counter);
  std::uintptr_t guard = Fold(value);
  if constexpr (sizeof(std::uintptr_t) == 8) {
    // The top 16 bits clear: the guard is never a valid-looking user address.
    guard &= 0x0000FFFFFFFFFFFFULL;
  }
  return guard == 0 || guard == kUnseeded ? kUnseeded ^ 0x1 : guard;
}

}  // namespace

extern "C" {

// The compiler's protected frames read this before and after their body.
std::uintptr_t __stack_chk_guard = kUnseeded;

// A protected frame's canary was overwritten: the process ends at once, with
// no unwinding, no handler and no output, as the platform's own check does.
[[noreturn]] __attribute__((no_stack_protector)) void __stack_chk_fail() {
  TerminateProcess(GetCurrentProcess(), kStackBufferOverrun);
  __builtin_trap();
}

// The C runtime's start-up for a console program.
int mainCRTStartup();

// The executable's entry point: the guard is seeded before the C runtime
// (and so any protected function) runs, and is never changed again.
__attribute__((no_stack_protector, force_align_arg_pointer)) int StopexStart() {
  __stack_chk_guard = FreshGuard();
  return mainCRTStartup();
}

}  // extern "C"
