#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdint>
#include <memory>
#include <utility>

#include "platform/handle_win.h"
#include "platform/process_control.h"

namespace quarnel {
namespace {

class ProcessExitEvent final : public WaitEvent {
  public:
    using WaitEvent::WaitEvent;
};

// The I/O priority values this platform knows: background mode (low I/O and memory priority)
// or not.
constexpr int kNormalIo = 0;
constexpr int kBackgroundIo = 1;

bool backgroundMode = false;

}  // namespace

std::uint32_t ReadParentProcessId(std::uint32_t processId) {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::uint32_t parent = 0;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == processId) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    ::CloseHandle(snapshot);
    return parent;
}

WaitHandle OpenProcessExitHandle(std::uint32_t processId) {
    UniqueHandle process = OwnWindowsHandle(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) {
        return nullptr;
    }
    return std::make_unique<ProcessExitEvent>(std::move(process));
}

// The priority class as the nice value that stands for it.
bool ReadSchedulingPriority(SchedulingPriority& priority) {
    const DWORD priorityClass = ::GetPriorityClass(::GetCurrentProcess());
    switch (priorityClass) {
        case IDLE_PRIORITY_CLASS:
            priority.nice = 19;
            break;
        case BELOW_NORMAL_PRIORITY_CLASS:
            priority.nice = 10;
            break;
        case ABOVE_NORMAL_PRIORITY_CLASS:
            priority.nice = -5;
            break;
        case HIGH_PRIORITY_CLASS:
            priority.nice = -10;
            break;
        case REALTIME_PRIORITY_CLASS:
            priority.nice = -20;
            break;
        case 0:
            return false;
        default:
            priority.nice = 0;
            break;
    }
    priority.ioPriority = backgroundMode ? kBackgroundIo : kNormalIo;
    return true;
}

bool SetProcessNiceValue(int nice) {
    DWORD priorityClass = NORMAL_PRIORITY_CLASS;
    if (nice >= 19) {
        priorityClass = IDLE_PRIORITY_CLASS;
    } else if (nice >= 5) {
        priorityClass = BELOW_NORMAL_PRIORITY_CLASS;
    } else if (nice <= -20) {
        priorityClass = REALTIME_PRIORITY_CLASS;
    } else if (nice <= -10) {
        priorityClass = HIGH_PRIORITY_CLASS;
    } else if (nice < 0) {
        priorityClass = ABOVE_NORMAL_PRIORITY_CLASS;
    }
    return ::SetPriorityClass(::GetCurrentProcess(), priorityClass);
}

bool SetProcessIoPriority(int ioPriority) {
    const bool background = ioPriority == kBackgroundIo;
    if (background == backgroundMode) {
        return true;
    }
    if (!::SetPriorityClass(::GetCurrentProcess(), background ? PROCESS_MODE_BACKGROUND_BEGIN
                                                              : PROCESS_MODE_BACKGROUND_END)) {
        return false;
    }
    backgroundMode = background;
    return true;
}

int IdleIoPriority() {
    return kBackgroundIo;
}

}  // namespace quarnel
