#pragma once

// The service library: a table of service records, the dispatcher that runs every registered
// service in this process (under systemd or in the foreground), the service main, the control
// handler and the state queries. It knows nothing of what the services do: a service is a record
// with two callbacks.
//
// Threads: RunServiceDispatcher's thread receives the controls and runs ServiceCtrlHandler; each
// service's ServiceCtrlMain and mainCallback run on a thread of their own; the queries may be
// called from any thread.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/service_host.h"

namespace quarnel {

// Service states.
inline constexpr std::uint32_t ServiceStopped = 1;
inline constexpr std::uint32_t ServiceStartPending = 2;
inline constexpr std::uint32_t ServiceStopPending = 3;
inline constexpr std::uint32_t ServiceRunning = 4;
inline constexpr std::uint32_t ServiceContinuePending = 5;
inline constexpr std::uint32_t ServicePausePending = 6;
inline constexpr std::uint32_t ServicePaused = 7;

// Controls, and the power events that come with control 13.
inline constexpr std::uint32_t ServiceControlStop = 1;
inline constexpr std::uint32_t ServiceControlPause = 2;
inline constexpr std::uint32_t ServiceControlContinue = 3;
inline constexpr std::uint32_t ServiceControlInterrogate = 4;
inline constexpr std::uint32_t ServiceControlShutdown = 5;
inline constexpr std::uint32_t ServiceControlPowerEvent = 13;
inline constexpr std::uint32_t PowerEventSuspend = 0x4;
inline constexpr std::uint32_t PowerEventResumeAutomatic = 0x12;

// The service's work: returns when the service is to stop. A stop may arrive as soon as the
// service runs, before the callback is ready to notice it: once ready, it checks
// IsServiceActive(name) and returns at once when that is false.
using ServiceMainFunction = std::function<void(const std::string& name)>;
// Reacts to a control; nonzero means handled (pause and continue complete only then). A
// continue is delivered with the state already running, so that work it wakes sees it so.
using ServiceControlFunction = std::function<int(const std::string& name, std::uint32_t control)>;

struct ServiceRecord {
    std::string name;
    std::uintptr_t statusHandle = 0;  // nonzero from the moment ServiceCtrlMain registered
    ServiceMainFunction mainCallback;
    ServiceControlFunction controlCallback;
    ServiceStatus status;
    // Guards status and statusHandle; held while a status is changed and reported.
    std::mutex statusLock;
};

// Creates the empty, process-wide record table (a start-up step; a second call empties it).
void CreateServiceRecordTable();
// Adds or finds the record for name, clears its status handle and stores both callbacks. False
// when the table does not exist yet.
bool RegisterServiceRecord(const std::string& name, ServiceMainFunction mainCallback,
                           ServiceControlFunction controlCallback);
// Deletes the record when it exists (not while the dispatcher runs it).
void RemoveServiceRecord(const std::string& name);

// Runs every registered service on a thread of its own and delivers controls to them (signals,
// the control socket, the sleep signal) on the calling thread, until every service has stopped.
// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread for that time. Returns 0.
int RunServiceDispatcher();

// The service main: arguments[0] is the service name.
void ServiceCtrlMain(const std::vector<std::string>& arguments);
// The control handler; context is the argument vector of ServiceCtrlMain. Returns 0.
std::uint32_t ServiceCtrlHandler(std::uint32_t control, std::uint32_t eventType,
                                 const void* eventData, const std::vector<std::string>& context);

// State queries by name; false when no record has that name.
bool IsServiceActive(const std::string& name);   // neither stopped nor stop pending
bool IsServicePaused(const std::string& name);   // paused
bool IsServiceRunning(const std::string& name);  // running
// A copy of the record's status; false when no record has that name.
bool QueryServiceRecordStatus(const std::string& name, ServiceStatus& status);

}  // namespace quarnel
