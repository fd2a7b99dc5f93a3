/* Waits until it is terminated, or, given a number of milliseconds, ends by
   itself after that long. Given "-m MB", it first fills that many megabytes
   of memory, so that its teardown takes a while once it is killed. On Linux,
   given "-p", its first thread ends and a second one waits; given "-z NAME",
   it leaves a child named NAME that has ended, uncollected. The end-to-end
   tests start copies of it under crafted names. */
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
#include <pthread.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

static void* wait_forever(void* unused) {
  for (;;) pause();
  return unused;
}

int main(int argc, char** argv) {
  fill(argc, argv);
  if (argc == 2 && strcmp(argv[1], "-p") == 0) {
    pthread_t thread;
    if (pthread_create(&thread, NULL, wait_forever, NULL) != 0) return 1;
    pthread_exit(NULL);
  }
  if (argc == 3 && strcmp(argv[1], "-n") == 0) {
    prctl(PR_SET_NAME, argv[2]);
    for (;;) pause();
  }
  if (argc == 3 && strcmp(argv[1], "-z") == 0) {
    pid_t child = fork();
    if (child == 0) {
      prctl(PR_SET_NAME, argv[2]);
      _exit(0);
    }
    for (;;) pause();
  }
  if (argc == 2) {
    long ms = atol(argv[1]);
    struct timespec delay = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&delay, NULL);
    return 0;
  }
  for (;;) pause();
}
#endif
