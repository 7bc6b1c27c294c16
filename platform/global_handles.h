#pragma once

// The one process-wide state record. It is zero-filled before main runs and lives until the
// process ends; every field has one writer (named beside it) and is read by the others.
// Module-private state that needs a richer type than this layer knows (the HTTP session, the
// service-record table) lives in its module and is created by the start-up steps.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/wait.h"

namespace quarnel {

struct GlobalHandles {
    // Result of ProcessMain; the process exit code. Written by the entry.
    std::int64_t exitCode = 0;

    // Stand-ins for the optional system libraries: whether rtnetlink and the nl80211 family can
    // be used. Written by the entry; read by adapter identification and the change watcher.
    bool netlinkUsable = false;
    bool nl80211Usable = false;

    // Debug-log configuration. Written by the entry before the log lock exists and read
    // without the lock afterwards.
    std::int32_t logLevel = 0;
    std::int32_t logPort = 0;
    // The log lock; entries are dropped until the entry marks it created.
    std::mutex logLock;
    std::atomic<bool> logLockCreated{false};
    // Level names indexed by level, each five characters. Filled by the entry.
    std::array<const char*, 8> logLevelNames{};

    // Name of the instance message channel (the braced GUID text). Written by the entry.
    std::string instanceMessageName;
    // Registered id of the tray's "taskbar created" notification; the desktop toolkit tells the
    // tray directly on this platform, so it stays 0 until the tray registers one.
    std::uint32_t taskbarCreatedMessage = 0;

    // Process handle of the setting process this systray process started, or kNoNativeHandle.
    std::atomic<NativeHandle> settingProcess{kNoNativeHandle};
    // Balloons currently shown by the tray icon.
    std::atomic<std::int64_t> pendingBalloons{0};

    // The service's semaphores (the service-start callback creates them).
    WaitHandle wakeSemaphore;
    WaitHandle stopSemaphore;
};

extern GlobalHandles globalHandles;

}  // namespace quarnel
