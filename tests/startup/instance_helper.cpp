// A process that holds one mode's instance marker for the instance tests:
//   instance_helper <systray|setting|service|update> [seconds]
// prints "running=<IsInstanceRunning>" and, when it holds the marker, "code=<n>" for every
// instance message it accepts; it ends on code 1 (quit), after the given seconds (default 20),
// or at once when another process holds the marker.

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "startup/instance.h"

int main(int argc, char** argv) {
    using namespace quarnel;
    if (argc < 2) {
        return 2;
    }
    const std::string mode = argv[1];
    Guid guid;
    if (mode == "systray") {
        guid = SystrayInstanceGuid;
    } else if (mode == "setting") {
        guid = SettingInstanceGuid;
    } else if (mode == "service") {
        guid = ServiceInstanceGuid;
    } else if (mode == "update") {
        guid = UpdateInstanceGuid;
    } else {
        return 2;
    }
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
    const int running = IsInstanceRunning(guid);
    std::printf("running=%d\n", running);
    std::fflush(stdout);
    if (running != 0) {
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd poller{static_cast<int>(InstanceMessageHandle(guid)), POLLIN, 0};
        if (::poll(&poller, 1, 100) <= 0) {
            continue;
        }
        std::int32_t code = 0;
        while (ReceiveInstanceMessage(guid, code)) {
            std::printf("code=%d\n", code);
            std::fflush(stdout);
            if (code == InstanceCodeQuit) {
                return 0;
            }
        }
    }
    return 1;
}
