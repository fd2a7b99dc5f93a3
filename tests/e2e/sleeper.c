/* Waits until it is terminated; the end-to-end tests start copies of it
   under crafted names. */
#ifdef _WIN32
#include <windows.h>
int main(void) {
  for (;;) Sleep(INFINITE);
}
#else
#include <unistd.h>
int main(void) {
  for (;;) pause();
}
#endif
