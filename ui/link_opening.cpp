#include "ui/link_opening.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "diagnostics/log.h"
#include "platform/child_process.h"
#include "platform/process_as_user.h"

namespace quarnel {
namespace {

constexpr const char* kSystemFolders = "/usr/local/bin:/usr/bin:/bin";

}  // namespace

LinkOutcome OpenLink(const std::string& url, const std::string& opener, std::int64_t verdictMs) {
    const std::optional<DesktopUser> user = DesktopProgramUser();
    if (!user) {
        QLOG(kLogWarn, "OpenLink", "No desktop user to open the link as (not as root): " + url);
        return LinkOutcome::NoDesktopUser;
    }
    const std::string program =
        opener.empty() ? FindExecutable("xdg-open", kSystemFolders) : opener;
    if (program.empty()) {
        QLOG(kLogError, "OpenLink", "xdg-open is not installed; cannot open " + url);
        return LinkOutcome::NotOpened;
    }
    auto started = std::make_shared<StartedProgram>(StartProgramAsUser({program, url}, *user));
    if (!started->handle) {
        QLOG(kLogError, "OpenLink", "Unable to start " + program + " as " + user->name);
        return LinkOutcome::NotOpened;
    }
    pollfd ended{static_cast<int>(started->handle.Get()), POLLIN, 0};
    int polled = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(verdictMs);
    do {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        polled = ::poll(&ended, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    } while (polled < 0 && errno == EINTR);
    if (polled <= 0) {
        // Still running: it has the browser in the foreground. Whoever waits for it later, it is
        // reaped then; this process never waits for the browser.
        QLOG(kLogDebug, "OpenLink", "Opened as " + user->name + ": " + url);
        std::thread([started] { WaitForStartedProgram(*started); }).detach();
        return LinkOutcome::Opened;
    }
    const int status = WaitForStartedProgram(*started);
    if (status != 0) {
        QLOG(kLogError, "OpenLink",
             program + " could not open " + url + " (exit status " + std::to_string(status) + ")");
        return LinkOutcome::NotOpened;
    }
    QLOG(kLogDebug, "OpenLink", "Opened as " + user->name + ": " + url);
    return LinkOutcome::Opened;
}

}  // namespace quarnel
