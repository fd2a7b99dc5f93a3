// Process file descriptors: a descriptor that stays bound to one process for
// as long as it is open, however soon its id is handed to another.
#pragma once

namespace stopex::linux_backend {

// The descriptor of the process with this id; negative with errno set, and
// errno ENOSYS where the kernel has no process descriptors.
int PidfdOpen(int pid);

// Sends the signal (0: only checks that it could be sent) to the process
// behind the descriptor; 0 on success, else -1 with errno set.
int PidfdSendSignal(int fd, int signal);

}  // namespace stopex::linux_backend
