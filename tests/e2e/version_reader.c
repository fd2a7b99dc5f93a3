/* Prints the version record of the executable it is given, as Windows reads
   it: the fixed file version, then the FileVersion and ProductName texts,
   each on a line. Exits 2 when there is none. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static const char* Text(void* data, const char* name) {
  char path[128];
  char* value = NULL;
  UINT size = 0;
  snprintf(path, sizeof path, "\\StringFileInfo\\040904B0\\%s", name);
  return VerQueryValueA(data, path, (void**)&value, &size) && size > 0 ? value : "(none)";
}

int main(int argc, char** argv) {
  DWORD ignored = 0;
  DWORD size = argc > 1 ? GetFileVersionInfoSizeA(argv[1], &ignored) : 0;
  void* data = size > 0 ? malloc(size) : NULL;
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT fixedSize = 0;
  if (data == NULL || !GetFileVersionInfoA(argv[1], 0, size, data) ||
      !VerQueryValueA(data, "\\", (void**)&fixed, &fixedSize)) {
    fprintf(stderr, "version_reader: no version record\n");
    return 2;
  }
  printf("%u.%u.%u.%u\n", (unsigned)HIWORD(fixed->dwFileVersionMS), (unsigned)LOWORD(fixed->dwFileVersionMS),
         (unsigned)HIWORD(fixed->dwFileVersionLS), (unsigned)LOWORD(fixed->dwFileVersionLS));
  printf("%s\n%s\n", Text(data, "FileVersion"), Text(data, "ProductName"));
  return 0;
}
