/* A Windows program started as the product starts (cmake/hardening.cmake):
   it prints the stack protector's guard of its run in hexadecimal. With
   "overrun" it writes past a protected buffer instead, which must end the
   run at once, with 0xC0000409 and no output. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

extern uintptr_t __stack_chk_guard;

/* The length comes from the command line, so the compiler cannot see the
   overrun coming; the canary after the buffer is what catches it. */
__attribute__((noinline)) static int Overrun(size_t length) {
  char buffer[8];
  memset(buffer, 'x', length);
  volatile char first = buffer[0];
  return first;
}

int main(void) {
  const char* line = GetCommandLineA();
  if (strstr(line, "overrun") != NULL) {
    Overrun(strlen(line) + 64);
    puts("returned from an overrun");
    return 1;
  }
  printf("%llx\n", (unsigned long long)__stack_chk_guard);
  return 0;
}
