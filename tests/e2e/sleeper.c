/* Waits until it is terminated, or, given a number of milliseconds, ends by
   itself after that long. Given "-m MB", it first fills that many megabytes
   of memory, so that its teardown takes a while once it is killed. The
   end-to-end tests start copies of it under crafted names. */
#include <stdlib.h>
#include <string.h>

/* Where the filled memory is kept, so that the filling is not optimised away. */
static char* volatile filled;

static void fill(int argc, char** argv) {
  if (argc > 2 && strcmp(argv[1], "-m") == 0) {
    size_t size = (size_t)atol(argv[2]) << 20;
    filled = malloc(size);
    if (filled != NULL) memset(filled, 1, size);
  }
}

#ifdef _WIN32
#include <windows.h>
int main(int argc, char** argv) {
  fill(argc, argv);
  if (argc == 2) {
    Sleep((DWORD)atol(argv[1]));
    return 0;
  }
  for (;;) Sleep(INFINITE);
}
#else
#include <time.h>
#include <unistd.h>
int main(int argc, char** argv) {
  fill(argc, argv);
  if (argc == 2) {
    long ms = atol(argv[1]);
    struct timespec delay = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&delay, NULL);
    return 0;
  }
  for (;;) pause();
}
#endif
