#pragma once

// A desktop for the end-to-end tests of the windows: a virtual X display (Xvfb) on a display
// number of its own choice, an XEmbed notification area (trayer) on it, and xdotool to act on it
// as a user would. What it starts it stops when it goes (the notification area first).

#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace quarnel::test {

// A place on the screen, in pixels.
struct ScreenPlace {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class VirtualDesktop {
  public:
    VirtualDesktop() = default;
    ~VirtualDesktop();
    VirtualDesktop(const VirtualDesktop&) = delete;
    VirtualDesktop& operator=(const VirtualDesktop&) = delete;

    // Why the end-to-end tests cannot run here (a sanitizer build, which slows Qt, the X server
    // and the tray host down past what a user would wait for; a tool not installed), or nothing.
    static std::optional<std::string> Unavailable();

    // Starts the display; false when it did not come up.
    bool Start();
    // ":<number>", once started.
    const std::string& Display() const { return display_; }
    const ChildProcess& Server() const { return server_; }
    // The screen's contents as the server keeps them, an XWD image (depth 24, 32 bits a pixel).
    std::string FrameBufferFile() const { return frameFolder_.Path() + "/Xvfb_screen0"; }

    // Starts and stops the notification area.
    bool StartTrayHost();
    void StopTrayHost();

    // Runs xdotool on the display; its output, or nothing when it failed.
    std::optional<std::string> Xdotool(const std::vector<std::string>& arguments) const;
    // The first visible window whose title is exactly title and whose process is not
    // excludedPid; nothing when none appears within timeoutMs.
    std::optional<std::string> FindWindow(const std::string& title, int excludedPid = 0,
                                          int timeoutMs = 60000) const;
    // Where a window is, or nothing when it is gone.
    std::optional<ScreenPlace> WindowPlace(const std::string& id) const;
    // The places of a process's visible windows.
    std::vector<ScreenPlace> WindowPlacesOf(int pid) const;
    // A click with the button (1 left, 3 right) in the middle of the upper half of a place (a
    // balloon's arrow covers the lower half of its tray icon).
    bool Click(const ScreenPlace& place, int button) const;

  private:
    TemporaryFolder frameFolder_;
    std::string display_;
    ChildProcess server_;
    ChildProcess trayHost_;
};

// Asks a child to end (SIGTERM) and kills it when it has not ended within five seconds.
void StopChild(ChildProcess& child);

// The debug logs below the current QUARNEL_ROOT, one after another.
std::string DebugLogText();

}  // namespace quarnel::test
