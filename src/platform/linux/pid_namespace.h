// How the numbers /proc shows relate to the program's own PID namespace:
// /proc may belong to an ancestor's namespace (a sandbox that binds the
// outer /proc, a namespace made without a /proc of its own), where every
// number names another process than it does here.
#pragma once

#include <cstdint>

namespace stopex::linux_backend {

struct ProcView {
  std::uint32_t self = 0;  // the program's own number in /proc
  // How many namespaces, from /proc's down to the program's own, the
  // program has a number in: 1 where /proc is of its own namespace.
  std::uint32_t levels = 1;
  bool told = true;  // the kernel says which number a process has where (NSpid)
};

// Reads the view through the open /proc; false, with the last error and its
// text set, where /proc does not list the program itself.
bool ReadView(int rootFd, ProcView* view);

// The program's own number in /proc, or 0 where /proc does not list it.
std::uint32_t ListedSelf();

// The view the last snapshot read.
const ProcView& CurrentView();
void SetCurrentView(const ProcView& view);

enum class Mapping {
  Certain,   // the number here is the process's own: /proc is of the
             // program's own namespace
  ToConfirm, // /proc is of another namespace: the process behind the number
             // here must be confirmed to bear the number /proc lists
  NoNumber,  // the process has no number here (it lives outside), or is gone,
             // or (errno EMFILE or ENFILE) its status could not be opened
  Unknown,   // the kernel does not say
};

// The number here of the process /proc lists as listedPid.
Mapping MapListedProcess(const ProcView& view, std::uint32_t listedPid, std::uint32_t* ownPid);

// Whether the process behind the process descriptor is the one /proc lists
// as listedPid: Certain, NoNumber (another), or Unknown.
Mapping ConfirmDescriptor(int pidfd, std::uint32_t listedPid);

// What a failure says on standard error where a process listed in another
// namespace cannot be confirmed: the kernel does not say (Mapping::Unknown),
// or no process descriptor could be had to ask it.
extern const char* const kUntoldNamespace;
extern const char* const kDescriptorsRefused;
extern const char* const kDescriptorsExhausted;

}  // namespace stopex::linux_backend
