// How the numbers /proc shows relate to the program's own PID namespace,
// as the snapshot reads it once:
// /proc may belong to an ancestor's namespace (a sandbox that binds the
// outer /proc, a namespace made without a /proc of its own), where every
// number names another process than it does here.
#pragma once

#include <cstdint>

namespace stopex::linux_backend {

struct ProcView {
  // How many namespaces, from /proc's down to the program's own, the
  // program has a number in: 1 where /proc is of its own namespace.
  std::uint32_t levels = 1;
  bool told = true;  // the kernel says which number a process has where (NSpid)
};

// Reads the view through the open /proc; false, with the last error and its
// text set, where /proc does not list the program itself.
bool ReadView(int rootFd, ProcView* view);

// The program's own number in /proc, as /proc's self link names it, or 0
// where /proc does not list it (errno ENOENT) or its link cannot be read
// (errno says why). Read once for each /proc the backend is pointed at.
std::uint32_t OwnNumberInProc();

}  // namespace stopex::linux_backend
