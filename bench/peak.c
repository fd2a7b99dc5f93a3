/* Runs a command with its output discarded and prints its peak resident
   memory in KiB. Forked from this small program, so that the figure is the
   command's own and not that of whatever started it. */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    int sink = open("/dev/null", O_WRONLY);
    dup2(sink, 1);
    dup2(sink, 2);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status;
  struct rusage usage;
  wait4(pid, &status, 0, &usage);
  printf("%ld\n", usage.ru_maxrss);
  return 0;
}
