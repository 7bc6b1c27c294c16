// The dispatcher: one thread per registered service, controls delivered on the caller's thread.

#include <cstddef>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/log.h"
#include "libraries/src/service/service_internal.h"

namespace quarnel {
namespace {

struct RunningService {
    std::vector<std::string> arguments;  // the service main's arguments and handler's context
    std::thread thread;
};

}  // namespace

int RunServiceDispatcher() {
    const std::vector<std::string> names = RegisteredServiceNames();
    if (names.empty()) {
        QLOG(kLogWarn, "RunServiceDispatcher", "No service is registered");
        return 0;
    }
    // Before any service thread starts, so that they inherit the blocked stop signals.
    ServiceHostControls host;
    if (!host.ControlSocketOpen()) {
        QLOG(kLogWarn, "RunServiceDispatcher",
             "Control socket " + ServiceControlSocketPath() + " is not available");
    }
    QLOG(kLogDebug, "RunServiceDispatcher",
         host.SleepSignalSubscribed() ? "Listening for sleep and resume"
                                      : "No system bus, sleep and resume are not seen");
    const WaitHandle finished = CreateSemaphoreHandle(0);
    if (!finished) {
        QLOG(kLogError, "RunServiceDispatcher", "Unable to create the service end notification");
        return 0;
    }

    std::vector<std::unique_ptr<RunningService>> services;
    for (const std::string& name : names) {
        auto service = std::make_unique<RunningService>();
        service->arguments = {name};
        const std::vector<std::string>* arguments = &service->arguments;
        try {
            service->thread = std::thread([arguments, &finished] {
                ServiceCtrlMain(*arguments);
                (void)ReleaseSemaphoreHandle(finished);
            });
        } catch (const std::system_error&) {
            QLOG(kLogError, "RunServiceDispatcher", "Unable to start service " + name);
            continue;
        }
        services.push_back(std::move(service));
    }

    const ServiceControlDelivery deliver = [&services](const ServiceHostControl& control,
                                                       ServiceStatus& status) {
        bool delivered = false;
        bool answered = false;
        for (const auto& service : services) {
            const std::string& name = service->arguments.front();
            if (!control.serviceName.empty() && control.serviceName != name) {
                continue;
            }
            const bool taken =
                DeliverServiceControl(control.control, control.eventType, service->arguments);
            if (!taken) {
                QLOG(kLogDebug, "RunServiceDispatcher",
                     "Control " + std::to_string(control.control) + " not taken by " + name);
            }
            delivered = delivered || taken;
            if (!answered) {
                answered = QueryServiceRecordStatus(name, status);
            }
        }
        return delivered;
    };

    for (std::size_t running = services.size(); running > 0; --running) {
        if (!host.Run(finished, deliver)) {
            QLOG(kLogError, "RunServiceDispatcher", "Unable to wait for controls");
            break;  // the joins below still wait for every service to end
        }
    }
    for (const auto& service : services) {
        service->thread.join();
    }
    return 0;
}

}  // namespace quarnel
