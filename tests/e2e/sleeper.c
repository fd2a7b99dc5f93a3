/* Waits until it is terminated, or, given a number of milliseconds, ends by
   itself after that long. The end-to-end tests start copies of it under
   crafted names. */
#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>
int main(int argc, char** argv) {
  if (argc > 1) {
    Sleep((DWORD)atol(argv[1]));
    return 0;
  }
  for (;;) Sleep(INFINITE);
}
#else
#include <time.h>
#include <unistd.h>
int main(int argc, char** argv) {
  if (argc > 1) {
    long ms = atol(argv[1]);
    struct timespec delay = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&delay, NULL);
    return 0;
  }
  for (;;) pause();
}
#endif
