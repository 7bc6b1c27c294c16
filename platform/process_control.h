#pragma once

// Other processes and this process's scheduling priority.

#include <cstdint>

#include "platform/wait.h"

namespace quarnel {

// The parent's process id, from /proc/<pid>/stat; 0 when the process is not found.
std::uint32_t ReadParentProcessId(std::uint32_t processId);

// A handle that fires once the process has ended and stays fired (a process descriptor; it is
// close-on-exec and refers to that very process even if its id is reused); null on failure.
WaitHandle OpenProcessExitHandle(std::uint32_t processId);

// CPU and I/O priority of the calling thread (the I/O priority in the kernel's encoding).
struct SchedulingPriority {
    int nice = 0;
    int ioPriority = 0;
};
bool ReadSchedulingPriority(SchedulingPriority& priority);

// Set the nice value or the I/O priority of every thread of the process (threads started later
// inherit them from their creator). False when any thread could not be changed; lowering the
// nice value needs privileges.
bool SetProcessNiceValue(int nice);
bool SetProcessIoPriority(int ioPriority);

// The I/O priority of the idle class: the disk serves it only when nobody else needs it.
int IdleIoPriority();

}  // namespace quarnel
