/* Starts the command line it is given and prints the exit code that Windows
   reports for it, in unsigned decimal: the Linux-side launcher of a Wine
   process does not carry a code set by TerminateProcess. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  /* Everything after our own program name is the child's command line. */
  char* line = GetCommandLineA();
  if (*line == '"') {
    char* close = strchr(line + 1, '"');
    line = close ? close + 1 : line + strlen(line);
  } else {
    while (*line && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;

  STARTUPINFOA startup;
  PROCESS_INFORMATION info;
  DWORD code = 0;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (!CreateProcessA(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &info)) {
    fprintf(stderr, "launcher: CreateProcess failed, err = %lu\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  printf("exit code %lu\n", (unsigned long)code);
  return 0;
}
