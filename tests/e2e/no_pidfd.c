/* Starts a program under a system-call filter that refuses pidfd_open (or,
   with -s, pidfd_send_signal) with EPERM, as container runtimes' default
   filters did, or openat2 with EPERM (-o) or ENOSYS (-n), as filters that
   predate it do, and lets every other call through; "=N" after the option
   ("-p" for pidfd_open) refuses with errno N instead, as any filter may:
   no_pidfd [-s|-o|-n|-p][=N] PROGRAM [ARGUMENT...]. */
#include <errno.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434 /* the same number on every architecture */
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif
#ifndef SYS_openat2
#define SYS_openat2 437
#endif

int main(int argc, char** argv) {
  const char* option = argc > 1 && argv[1][0] == '-' ? argv[1] : "";
  const char* given = strchr(option, '=');
  const int call = strncmp(option, "-s", 2) == 0   ? SYS_pidfd_send_signal
                   : strncmp(option, "-o", 2) == 0 ? SYS_openat2
                   : strncmp(option, "-n", 2) == 0 ? SYS_openat2
                                                   : SYS_pidfd_open;
  const int error = given != NULL ? atoi(given + 1) : strncmp(option, "-n", 2) == 0 ? ENOSYS : EPERM;
  argc -= *option != '\0';
  argv += *option != '\0';
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | error),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
  if (argc < 2) {
    fprintf(stderr, "usage: no_pidfd [-s|-o|-n|-p][=N] PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    perror("no_pidfd: prctl");
    return 2;
  }
  execv(argv[1], argv + 1);
  perror("no_pidfd: execv");
  return 2;
}
