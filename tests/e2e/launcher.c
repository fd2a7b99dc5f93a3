/* Starts the command line it is given and prints the exit code that Windows
   reports for it, in unsigned decimal: the Linux-side launcher of a Wine
   process does not carry a code set by TerminateProcess.
   "launcher -file PATH" starts the command line held in the file, so that a
   test can hand over any bytes, quotes and all, exactly as they stand, and
   lines as long as Windows allows. */
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

  static char fromFile[40000];
  if (strncmp(line, "-file ", 6) == 0) {
    FILE* file = fopen(line + 6, "rb");
    size_t n = 0;
    if (file == NULL) {
      fprintf(stderr, "launcher: cannot open %s\n", line + 6);
      return 2;
    }
    n = fread(fromFile, 1, sizeof fromFile - 1, file);
    fclose(file);
    fromFile[n] = '\0';
    line = fromFile;
  }

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
