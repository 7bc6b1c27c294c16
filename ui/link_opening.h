#pragma once

// Opening a link of a window (the router's page, the about text's links, the change log) in the
// user's web browser, which is never started as root: a window that runs as root for a user
// (pkexec) starts it as that user; with no such user the address is shown instead. Qt-free; the
// windows show the outcome.

#include <cstdint>
#include <string>

namespace quarnel {

enum class LinkOutcome {
    Opened,         // the desktop's opener runs (or ended well) as the desktop's user
    NotOpened,      // it could not be started, or it failed: the user is given the address
    NoDesktopUser,  // nobody but root to start it as: the user is given the address
};

// Starts opener (a full path; empty: xdg-open from the system's folders) with url as the
// desktop's user and waits for it to fail, up to verdictMs: an opener that is still running
// then (the browser it started in the foreground) counts as opened. Blocks; run it on a worker
// thread.
LinkOutcome OpenLink(const std::string& url, const std::string& opener = {},
                     std::int64_t verdictMs = 20000);

}  // namespace quarnel
