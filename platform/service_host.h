#pragma once

// The service host: how a service process meets the system's service manager. Status reports go
// to systemd (sd_notify). Controls arrive as signals (SIGTERM and SIGINT stop, SIGHUP is control
// 128), on the control socket RuntimeFolder()/control, and as logind's PrepareForSleep signal
// when a system bus is there. The dispatcher's thread receives them all, one at a time.
//
// Control socket: a local stream socket, mode 0600, that serves root and the service's own user
// only (checked again from the peer's credentials). One request line, one reply line, then the
// connection closes:
//   request  "<control> <event type> <service name>\n"  (decimal numbers; an empty name means
//            every service of the process)
//   reply    "<result> <type> <state> <accepted> <exit code> <service exit code> <check point>
//            <wait hint>\n"  (result 1 when the control was delivered, else 0; then the
//            service's status after handling it)

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/wait.h"

namespace quarnel {

// A service's status as it is reported and answered to controls.
struct ServiceStatus {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

// One control for the services of this process.
struct ServiceHostControl {
    std::string serviceName;  // empty: every service of the process
    std::uint32_t control = 0;
    std::uint32_t eventType = 0;
};

// What PrepareForSleep(sleepStarts) becomes: the power event 13 with suspend (4) when sleep
// begins, with automatic resume (0x12) when the machine woke up.
ServiceHostControl SleepSignalControl(bool sleepStarts);

// Tells systemd the status (READY=1 when running, STOPPING=1 when stop pending, and a STATUS=
// line with stateName and the check point). True when reported or when no service manager waits
// for reports (run in the foreground); false only when the notification socket is unusable.
bool ReportStatusToServiceManager(const ServiceStatus& status, std::string_view stateName);

// Blocks the service host's signals (SIGTERM, SIGINT, SIGHUP) on the calling thread, which is
// meant to be the main thread before it starts any other. A service process calls this first, so
// that a reload or stop sent while it is still starting waits for the host instead of ending the
// process; the host then reads them.
void BlockServiceHostSignals();

// RuntimeFolder()/control.
std::string ServiceControlSocketPath();

// Delivers one control to the services; fills the status to answer with. True when delivered.
using ServiceControlDelivery =
    std::function<bool(const ServiceHostControl& control, ServiceStatus& status)>;

// The control sources of a service process, open for the object's life.
class ServiceHostControls {
  public:
    // Blocks SIGTERM, SIGINT and SIGHUP in the calling thread, so threads it starts afterwards
    // inherit that (a process that started other threads before must block them there too).
    // Opens the control socket unless another live process serves it or the runtime folder
    // cannot be made, and subscribes to the sleep signal when a system bus is there.
    ServiceHostControls();
    ~ServiceHostControls();
    ServiceHostControls(const ServiceHostControls&) = delete;
    ServiceHostControls& operator=(const ServiceHostControls&) = delete;

    bool ControlSocketOpen() const;
    bool SleepSignalSubscribed() const;

    // Delivers controls on the calling thread until finished fires; false when waiting fails.
    bool Run(const WaitHandle& finished, const ServiceControlDelivery& deliver);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Sends one control to the service process through its control socket and receives the status.
// True only when the service process delivered it.
bool SendServiceHostControl(const ServiceHostControl& control, ServiceStatus& status);

}  // namespace quarnel
