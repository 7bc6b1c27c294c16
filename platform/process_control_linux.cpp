#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "platform/process_control.h"
#include "platform/unique_fd.h"

namespace quarnel {
namespace {

constexpr int kIoPriorityWhoProcess = 1;  // a single thread, despite the name
constexpr int kIoPriorityClassShift = 13;
constexpr int kIoPriorityClassIdle = 3;

class ProcessExitEvent final : public WaitEvent {
  public:
    using WaitEvent::WaitEvent;
    // A process descriptor polls readable once the process has ended and stays so; there is
    // nothing to consume.
    bool TakeSignal() override { return true; }
};

// Thread ids of this process.
std::vector<int> ProcessThreads() {
    std::vector<int> threads;
    DIR* folder = ::opendir("/proc/self/task");
    if (folder == nullptr) {
        threads.push_back(static_cast<int>(::syscall(SYS_gettid)));
        return threads;
    }
    while (const dirent* entry = ::readdir(folder)) {
        char* end = nullptr;
        const long id = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && id > 0) {
            threads.push_back(static_cast<int>(id));
        }
    }
    ::closedir(folder);
    return threads;
}

}  // namespace

std::uint32_t ReadParentProcessId(std::uint32_t processId) {
    if (processId == 0) {
        return 0;
    }
    std::vector<std::uint8_t> stat;
    if (!ReadWholeFile("/proc/" + std::to_string(processId) + "/stat", 65536, stat)) {
        return 0;
    }
    // "pid (name) state ppid ...": the name may hold blanks and parentheses, so the fields after
    // it are found from the last closing parenthesis.
    const std::string text(stat.begin(), stat.end());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 4 >= text.size()) {
        return 0;
    }
    const char* fields = text.c_str() + close + 2;  // state letter
    char* end = nullptr;
    const unsigned long parent = std::strtoul(fields + 1, &end, 10);
    if (end == fields + 1 || parent > 0xFFFFFFFFul) {
        return 0;
    }
    return static_cast<std::uint32_t>(parent);
}

WaitHandle OpenProcessExitHandle(std::uint32_t processId) {
    if (processId == 0 || processId > 0x7FFFFFFF) {
        return nullptr;
    }
    UniqueFd fd(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0)));
    if (!fd) {
        return nullptr;
    }
    return std::make_unique<ProcessExitEvent>(IntoHandle(std::move(fd)));
}

bool ReadSchedulingPriority(SchedulingPriority& priority) {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    if (nice == -1 && errno != 0) {
        return false;
    }
    const long io = ::syscall(SYS_ioprio_get, kIoPriorityWhoProcess, 0);
    if (io < 0) {
        return false;
    }
    priority.nice = nice;
    priority.ioPriority = static_cast<int>(io);
    return true;
}

bool SetProcessNiceValue(int nice) {
    bool all = true;
    for (const int thread : ProcessThreads()) {
        if (::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice) != 0 && errno != ESRCH) {
            all = false;
        }
    }
    return all;
}

bool SetProcessIoPriority(int ioPriority) {
    bool all = true;
    for (const int thread : ProcessThreads()) {
        if (::syscall(SYS_ioprio_set, kIoPriorityWhoProcess, thread, ioPriority) != 0 &&
            errno != ESRCH) {
            all = false;
        }
    }
    return all;
}

int IdleIoPriority() {
    return kIoPriorityClassIdle << kIoPriorityClassShift;
}

}  // namespace quarnel
