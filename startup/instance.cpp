#include "startup/instance.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "diagnostics/log.h"
#include "platform/elevation.h"
#include "platform/instance.h"
#include "platform/process.h"
#include "platform/process_control.h"

namespace quarnel {
namespace {

// A marker this process holds, with the user it listens for.
struct HeldMarker {
    InstanceMarker marker;
    std::uint32_t listeningUser = 0;
};

struct MarkerTable {
    std::mutex lock;
    std::map<std::string, HeldMarker> markers;  // by GUID text
};

MarkerTable& Markers() {
    static MarkerTable table;
    return table;
}

bool IsMachineWideMode(const Guid& mode) {
    return GuidToString(mode) == GuidToString(ServiceInstanceGuid);
}

// The user whose folder holds the mode's marker; none for the machine-wide service.
std::optional<std::uint32_t> MarkerUser(const Guid& mode, std::uint32_t user) {
    if (IsMachineWideMode(mode)) {
        return std::nullopt;
    }
    return user;
}

// The lowest CPU priority: background work yields to everything else.
constexpr int kBackgroundNice = 19;

struct BackgroundMode {
    std::mutex lock;
    bool active = false;
    SchedulingPriority saved;
};

BackgroundMode& Background() {
    static BackgroundMode mode;
    return mode;
}

int BeginBackground() {
    BackgroundMode& mode = Background();
    const std::lock_guard<std::mutex> guard(mode.lock);
    SchedulingPriority current;
    if (mode.active || !ReadSchedulingPriority(current)) {
        return 0;
    }
    const bool io = SetProcessIoPriority(IdleIoPriority());
    const bool cpu = SetProcessNiceValue(kBackgroundNice);
    if (!io && !cpu) {
        return 0;
    }
    mode.active = true;
    mode.saved = current;
    return 1;
}

int EndBackground() {
    BackgroundMode& mode = Background();
    const std::lock_guard<std::mutex> guard(mode.lock);
    if (!mode.active) {
        return 0;
    }
    mode.active = false;
    // Lowering the nice value again is a privilege; without it the process stays at the
    // background value, which is harmless for a process about to end or idle anyway.
    (void)SetProcessNiceValue(mode.saved.nice);
    return SetProcessIoPriority(mode.saved.ioPriority) ? 1 : 0;
}

}  // namespace

int IsInstanceRunning(const Guid& mode) {
    const std::string guidText = GuidToString(mode);
    const std::uint32_t user = InvokingUserId();
    InstanceMarker marker;
    const InstanceClaim claim = ClaimInstanceMarker(guidText, MarkerUser(mode, user), marker);
    if (claim == InstanceClaim::HeldElsewhere) {
        QLOG(kLogDebug, "IsInstanceRunning", "Instance " + guidText + " is already running");
        return 1;
    }
    if (claim == InstanceClaim::Failed) {
        QLOG_ERROR_CODE(kLogWarn, "IsInstanceRunning",
                        "Unable to create instance marker " + guidText, GetLastErrorCode());
        return 0;
    }
    MarkerTable& table = Markers();
    const std::lock_guard<std::mutex> guard(table.lock);
    table.markers[guidText] = HeldMarker{std::move(marker), user};
    return 0;
}

NativeHandle InstanceMessageHandle(const Guid& mode) {
    MarkerTable& table = Markers();
    const std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.markers.find(GuidToString(mode));
    return found == table.markers.end() ? kNoNativeHandle : found->second.marker.endpoint.Get();
}

bool ReceiveInstanceMessage(const Guid& mode, std::int32_t& code) {
    MarkerTable& table = Markers();
    const std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.markers.find(GuidToString(mode));
    if (found == table.markers.end()) {
        return false;
    }
    // Bounded: a flood of refused datagrams cannot hold the caller here.
    for (int i = 0; i < 256; ++i) {
        switch (ReceiveInstanceCode(found->second.marker.endpoint.Get(),
                                    found->second.listeningUser, code)) {
            case InstanceReceive::Code:
                return true;
            case InstanceReceive::Nothing:
                return false;
            case InstanceReceive::Refused:
                QLOG(kLogWarn, "ReceiveInstanceMessage", "Refused an instance message");
                break;
        }
    }
    return false;
}

std::int64_t BroadcastInstanceMessage(std::int32_t code) {
    const UniqueHandle sender = CreateInstanceSender();
    if (!sender) {
        QLOG_ERROR_CODE(kLogError, "BroadcastInstanceMessage",
                        "Unable to create the instance message sender", GetLastErrorCode());
        return 0;
    }
    std::set<std::uint32_t> users = {CurrentUserId(), InvokingUserId()};
    int delivered = 0;
    for (const std::uint32_t user : users) {
        for (const Guid& mode : {SystrayInstanceGuid, SettingInstanceGuid, UpdateInstanceGuid}) {
            if (SendInstanceCode(sender.Get(), InstanceSocketPath(GuidToString(mode), user),
                                 code)) {
                ++delivered;
            }
        }
    }
    QLOG(kLogDebug, "BroadcastInstanceMessage",
         "Instance message " + std::to_string(code) + " reached " + std::to_string(delivered) +
             " processes");
    return 1;
}

bool SendInstanceMessage(const Guid& mode, std::int32_t code) {
    const UniqueHandle sender = CreateInstanceSender();
    bool delivered = false;
    for (const std::uint32_t user : std::set<std::uint32_t>{CurrentUserId(), InvokingUserId()}) {
        delivered =
            (sender &&
             SendInstanceCode(sender.Get(), InstanceSocketPath(GuidToString(mode), user), code)) ||
            delivered;
    }
    return delivered;
}

std::uint32_t GetParentProcessId(std::uint32_t processId) {
    return ReadParentProcessId(processId);
}

WaitHandle OpenProcessForWait(std::uint32_t processId) {
    return OpenProcessExitHandle(processId);
}

int SetProcessPriority(std::uint32_t priorityClass) {
    int nice = 0;
    switch (priorityClass) {
        case ProcessModeBackgroundBegin:
            return BeginBackground();
        case ProcessModeBackgroundEnd:
            return EndBackground();
        case IdlePriorityClass:
            nice = 19;
            break;
        case BelowNormalPriorityClass:
            nice = 10;
            break;
        case NormalPriorityClass:
            nice = 0;
            break;
        case AboveNormalPriorityClass:
            nice = -5;
            break;
        case HighPriorityClass:
            nice = -10;
            break;
        case RealtimePriorityClass:
            nice = -20;
            break;
        default:
            return 0;
    }
    return SetProcessNiceValue(nice) ? 1 : 0;
}

}  // namespace quarnel
