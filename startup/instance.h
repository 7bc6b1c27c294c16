#pragma once

// Instance coordination: the markers that keep each long-running mode to one process, the
// instance message between the processes of a user, and the small process helpers of the modes.

#include <cstdint>

#include "platform/guid.h"
#include "platform/wait.h"

namespace quarnel {

// The markers of the long-running modes. The service's marker is machine-wide; the others are
// per user (for a root process started through sudo or pkexec: the user who started it).
inline constexpr Guid ServiceInstanceGuid = {
    0xCEAEBEB3, 0xD070, 0x4127, {0x96, 0x21, 0x1B, 0xBF, 0xCC, 0xC6, 0x58, 0x71}};
inline constexpr Guid SettingInstanceGuid = {
    0xCEAEBEB3, 0xD070, 0x4127, {0x96, 0x21, 0x1B, 0xBF, 0xCB, 0xC6, 0x58, 0x71}};
inline constexpr Guid SystrayInstanceGuid = {
    0xCEAEBEB3, 0xD070, 0x4127, {0x96, 0x21, 0x1B, 0xBF, 0xCA, 0xC6, 0x58, 0x71}};
inline constexpr Guid UpdateInstanceGuid = {
    0xCEAEBEB3, 0xD070, 0x4127, {0x96, 0x21, 0x1B, 0xBF, 0xAA, 0xC6, 0x58, 0x70}};

// The codes of the instance message.
enum InstanceCode : std::int32_t {
    InstanceCodeOpenSettings = 0,
    InstanceCodeQuit = 1,
    InstanceCodeShow = 2,
    // To the update process: the channel (SoftwareBeta) may have changed; check again.
    InstanceCodeUpdateChannel = 3,
};

// 1 when a process of this mode already holds its marker, else 0 (also when the marker cannot be
// made: the process then runs as the first). Either way the process keeps what it made until it
// ends; when it holds the marker, the mode's instance messages arrive there.
int IsInstanceRunning(const Guid& mode);

// The object on which instance messages to a mode whose marker this process holds arrive (a
// descriptor that polls readable; watch it, do not read it), or kNoNativeHandle.
NativeHandle InstanceMessageHandle(const Guid& mode);
// Takes the next code without waiting; false when none is pending. Codes from other users
// (neither root nor this process's user nor the user the marker is held for) are dropped.
bool ReceiveInstanceMessage(const Guid& mode, std::int32_t& code);

// Sends code to the systray, setting and update processes of this user (for root started
// through sudo or pkexec, to those of the invoking user as well). 1 when it could be sent, also
// when no such process listens; 0 only when sending is impossible.
std::int64_t BroadcastInstanceMessage(std::int32_t code);
// Sends code to the process of one mode only, in the same way; true when one took it.
bool SendInstanceMessage(const Guid& mode, std::int32_t code);

// The parent's process id; 0 when the process is not found.
std::uint32_t GetParentProcessId(std::uint32_t processId);
// A handle that fires when the process ends (not inherited by started programs); null on failure.
WaitHandle OpenProcessForWait(std::uint32_t processId);

// Priority classes of SetProcessPriority.
inline constexpr std::uint32_t NormalPriorityClass = 0x20;
inline constexpr std::uint32_t IdlePriorityClass = 0x40;
inline constexpr std::uint32_t HighPriorityClass = 0x80;
inline constexpr std::uint32_t RealtimePriorityClass = 0x100;
inline constexpr std::uint32_t BelowNormalPriorityClass = 0x4000;
inline constexpr std::uint32_t AboveNormalPriorityClass = 0x8000;
inline constexpr std::uint32_t ProcessModeBackgroundBegin = 0x100000;
inline constexpr std::uint32_t ProcessModeBackgroundEnd = 0x200000;

// Sets the priority of the whole process: a class maps to a nice value (below normal is 10);
// background mode adds the idle I/O class and the lowest CPU priority until it ends, when both
// are restored (an unprivileged process may not lower its nice value again, so only the I/O
// priority comes back there). 1 on success; 0 for an unknown class, a class that needs
// privileges the process lacks, beginning background mode twice or ending it when not begun.
int SetProcessPriority(std::uint32_t priorityClass);

}  // namespace quarnel
