/* The floor of the benchmark: the least a process-name lookup can do on
   Linux, reading /proc/PID/stat once per process and comparing the name.
   Usage: floor NAME; exits 0 when a process has that name, else 1. */
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  const char* name = argc > 1 ? argv[1] : "";
  size_t length = strlen(name);
  int found = 0;
  int root = open("/proc", O_RDONLY | O_DIRECTORY);
  DIR* dir = fdopendir(root);
  struct dirent* entry;
  char buffer[1024];
  while ((entry = readdir(dir)) != NULL) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    char path[64];
    strcpy(path, entry->d_name);
    strcat(path, "/stat");
    int fd = openat(root, path, O_RDONLY);
    if (fd < 0) continue;
    ssize_t n = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (n <= 0) continue;
    buffer[n] = '\0';
    char* open = strchr(buffer, '(');
    char* close = strrchr(buffer, ')');
    if (open && close && (size_t)(close - open - 1) == length && memcmp(open + 1, name, length) == 0) found = 1;
  }
  return found ? 0 : 1;
}
