// The service main and the control handler: the states a service goes through and what is
// reported at each step.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "diagnostics/log.h"
#include "libraries/src/service/service_internal.h"
#include "startup/instance.h"

namespace quarnel {
namespace {

constexpr std::uint32_t kServiceTypeSharedProcess = 0x20;
// Stop, pause and continue, shutdown, power events.
constexpr std::uint32_t kAcceptedControls = 0x47;

std::atomic<std::uintptr_t> nextStatusHandle{1};

// Whether a service in this state takes the control, as a service manager lets controls through:
// nothing while stopped or stopping, and only a stop while starting (which then ends the start).
bool TakesControl(std::uint32_t state, std::uint32_t control) {
    switch (state) {
        case ServiceStartPending:
            return control == ServiceControlStop || control == ServiceControlShutdown;
        case ServiceStopped:
        case ServiceStopPending:
            return false;
        default:
            return true;
    }
}

}  // namespace

void ServiceCtrlMain(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return;
    }
    const std::string& name = arguments.front();
    const std::shared_ptr<ServiceRecord> record = FindServiceRecord(name);
    if (!record) {
        return;
    }
    ServiceMainFunction mainCallback;
    {
        const std::lock_guard<std::mutex> guard(record->statusLock);
        record->status = {
            kServiceTypeSharedProcess, ServiceStartPending, kAcceptedControls, 0, 0, 0, 0};
        // Registering the handler: from now on the dispatcher delivers controls to the service.
        record->statusHandle = nextStatusHandle++;
        mainCallback = record->mainCallback;
        if (!ReportServiceRecordStatus(*record)) {
            record->statusHandle = 0;
            return;
        }
    }
    QLOG(kLogTrace, "ServiceCtrlMain", "SERVICE_START_PENDING");
    bool startWork = false;
    {
        const std::lock_guard<std::mutex> guard(record->statusLock);
        if (record->status.currentState == ServiceStartPending) {
            record->status.currentState = ServiceRunning;
            ++record->status.checkPoint;
            (void)ReportServiceRecordStatus(*record);
        }
        // A stop taken while starting ends the service before its work begins; the work would
        // otherwise wait for a stop that has already come and gone.
        startWork = record->status.currentState != ServiceStopPending;
    }
    if (startWork) {
        (void)SetProcessPriority(ProcessModeBackgroundBegin);
        QLOG(kLogTrace, "ServiceCtrlMain", "SERVICE_RUNNING");
        if (mainCallback) {
            mainCallback(name);
        }
    }
    QLOG(kLogTrace, "ServiceCtrlMain", "SERVICE_STOP_PENDING");
    if (startWork) {
        (void)SetProcessPriority(ProcessModeBackgroundEnd);
    }
    {
        const std::lock_guard<std::mutex> guard(record->statusLock);
        record->status.currentState = ServiceStopped;
        ++record->status.checkPoint;
        (void)ReportServiceRecordStatus(*record);
    }
    QLOG(kLogTrace, "ServiceCtrlMain", "SERVICE_STOPPED");
}

bool DeliverServiceControl(std::uint32_t control, std::uint32_t eventType,
                           const std::vector<std::string>& context) {
    if (context.empty()) {
        return false;
    }
    const std::string& name = context.front();
    const std::shared_ptr<ServiceRecord> record = FindServiceRecord(name);
    if (!record) {
        return false;
    }
    if (control == ServiceControlPowerEvent) {
        QLOG(kLogTrace, "ServiceCtrlHandler", "SERVICE_CONTROL_POWEREVENT");
        if (eventType == PowerEventSuspend) {
            control = ServiceControlPause;
            QLOG(kLogTrace, "ServiceCtrlHandler", "PBT_APMSUSPEND");
        } else if (eventType == PowerEventResumeAutomatic) {
            control = ServiceControlContinue;
            QLOG(kLogTrace, "ServiceCtrlHandler", "PBT_APMRESUMEAUTOMATIC");
        }
    }
    ServiceControlFunction callback;
    {
        const std::lock_guard<std::mutex> guard(record->statusLock);
        if (record->statusHandle == 0 || !TakesControl(record->status.currentState, control)) {
            return false;
        }
        switch (control) {
            case ServiceControlPause:
                record->status.currentState = ServicePausePending;
                QLOG(kLogTrace, "ServiceCtrlHandler",
                     "SERVICE_CONTROL_PAUSE => SERVICE_PAUSE_PENDING");
                break;
            case ServiceControlContinue:
                record->status.currentState = ServiceContinuePending;
                QLOG(kLogTrace, "ServiceCtrlHandler",
                     "SERVICE_CONTROL_CONTINUE => SERVICE_CONTINUE_PENDING");
                break;
            case ServiceControlStop:
            case ServiceControlShutdown:
                record->status.currentState = ServiceStopPending;
                QLOG(kLogTrace, "ServiceCtrlHandler",
                     "SERVICE_CONTROL_STOP or SERVICE_CONTROL_SHUTDOWN => SERVICE_STOP_PENDING");
                break;
            default:
                break;
        }
        ++record->status.checkPoint;
        if (!ReportServiceRecordStatus(*record)) {
            // A stop is carried out whether or not the service manager heard of it: a service
            // that cannot report must still be able to end.
            const bool stopping =
                control == ServiceControlStop || control == ServiceControlShutdown;
            QLOG(kLogError, "ServiceCtrlHandler",
                 "Reporting the status failed" +
                     std::string(stopping ? ", stopping all the same" : ""));
            if (!stopping) {
                return false;
            }
        }
        // The callback of a continue wakes the service's work, which must find the service
        // running, not still pending: the state changes before the callback runs.
        if (control == ServiceControlContinue) {
            record->status.currentState = ServiceRunning;
        }
        callback = record->controlCallback;
    }
    const int handled = callback ? callback(name, control) : 0;
    const std::lock_guard<std::mutex> guard(record->statusLock);
    if (record->status.currentState == ServiceStopped) {
        return true;  // the service ended meanwhile; its last report stands
    }
    if (handled != 0) {
        if (control == ServiceControlPause && record->status.currentState == ServicePausePending) {
            record->status.currentState = ServicePaused;
            QLOG(kLogTrace, "ServiceCtrlHandler", "SERVICE_PAUSED");
        } else if (control == ServiceControlContinue &&
                   record->status.currentState == ServiceRunning) {
            QLOG(kLogTrace, "ServiceCtrlHandler", "SERVICE_RUNNING");
        }
        ++record->status.checkPoint;
        (void)ReportServiceRecordStatus(*record);
    } else if (control == ServiceControlContinue && record->status.currentState == ServiceRunning) {
        record->status.currentState = ServiceContinuePending;  // not handled: still pending
    }
    return true;
}

std::uint32_t ServiceCtrlHandler(std::uint32_t control, std::uint32_t eventType,
                                 const void* eventData, const std::vector<std::string>& context) {
    (void)eventData;
    (void)DeliverServiceControl(control, eventType, context);
    return 0;
}

}  // namespace quarnel
