/* Starts the command line it is given and prints the exit code that Windows
   reports for it, in unsigned decimal: the Linux-side launcher of a Wine
   process does not carry a code set by TerminateProcess.
   "launcher -file PATH" starts the command line held in the file, so that a
   test can hand over any bytes, quotes and all, exactly as they stand, and
   lines as long as Windows allows. "launcher -wfile PATH" starts the line the
   file holds in UTF-8 as a Unicode command line (CreateProcessW), as a
   console or Explorer hands it over, characters the code page lacks and all.
   With STOPEX_CHILD_STDOUT set, the child's standard output is not this
   program's: "closed" gives it none, "readonly:PATH" a file opened for
   reading only, which refuses every write as a full disk would. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
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
  static wchar_t wide[40000];
  int unicode = strncmp(line, "-wfile ", 7) == 0;
  if (unicode || strncmp(line, "-file ", 6) == 0) {
    const char* path = line + (unicode ? 7 : 6);
    FILE* file = fopen(path, "rb");
    size_t n = 0;
    if (file == NULL) {
      fprintf(stderr, "launcher: cannot open %s\n", path);
      return 2;
    }
    n = fread(fromFile, 1, sizeof fromFile - 1, file);
    fclose(file);
    fromFile[n] = '\0';
    line = fromFile;
  }

  STARTUPINFOA startup;
  STARTUPINFOW startupW;
  PROCESS_INFORMATION info;
  DWORD code = 0;
  BOOL started;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  memset(&startupW, 0, sizeof startupW);
  startupW.cb = sizeof startupW;
  const char* childOut = getenv("STOPEX_CHILD_STDOUT");
  if (childOut != NULL) {
    HANDLE out = INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    if (strncmp(childOut, "readonly:", 9) == 0) {
      out = CreateFileA(childOut + 9, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, NULL);
    }
    startup.dwFlags = startupW.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startupW.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startupW.hStdOutput = out;
    startup.hStdError = startupW.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  if (unicode) {
    if (MultiByteToWideChar(CP_UTF8, 0, line, -1, wide, sizeof wide / sizeof wide[0]) == 0) {
      fprintf(stderr, "launcher: not UTF-8\n");
      return 2;
    }
    started = CreateProcessW(NULL, wide, NULL, NULL, TRUE, 0, NULL, NULL, &startupW, &info);
  } else {
    started = CreateProcessA(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &info);
  }
  if (!started) {
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
