#include "tests/ui/virtual_desktop.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/paths.h"

namespace quarnel::test {
namespace {

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr const char* kTrayer = "/usr/bin/trayer";
constexpr const char* kXdotool = "/usr/bin/xdotool";

}  // namespace

VirtualDesktop::~VirtualDesktop() {
    StopTrayHost();
    StopChild(server_);
}

std::optional<std::string> VirtualDesktop::Unavailable() {
#if defined(__SANITIZE_ADDRESS__)
    // The windows' own code runs under the sanitizers in the offscreen tests.
    return "the desktop end-to-end tests run in the normal build only";
#else
    for (const char* tool : {kXvfb, kTrayer, kXdotool}) {
        if (::access(tool, X_OK) != 0) {
            return std::string(tool) + " is not installed (scripts/install-deps installs it)";
        }
    }
    return std::nullopt;
#endif
}

bool VirtualDesktop::Start() {
    if (!server_.Start(kXvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24",
                               "-fbdir", frameFolder_.Path()})) {
        return false;
    }
    // The server writes the number it chose to the descriptor, once it accepts clients.
    std::smatch match;
    const std::regex number("(^|\n)([0-9]+)\n");
    for (int i = 0; i < 100; ++i) {
        server_.WaitForLine("\x01", 100);  // reads what has arrived
        const std::string output = server_.Output();
        if (std::regex_search(output, match, number)) {
            display_ = ":" + match[2].str();
            return true;
        }
    }
    return false;
}

bool VirtualDesktop::StartTrayHost() {
    return trayHost_.Start(kTrayer, {"--edge", "top", "--widthtype", "request"},
                           {{"DISPLAY", display_}});
}

void VirtualDesktop::StopTrayHost() {
    StopChild(trayHost_);
}

std::optional<std::string> VirtualDesktop::Xdotool(
    const std::vector<std::string>& arguments) const {
    ChildProcess xdotool;
    if (!xdotool.Start(kXdotool, arguments, {{"DISPLAY", display_}})) {
        return std::nullopt;
    }
    const int status = xdotool.Wait(10000);
    if (status == -1) {
        xdotool.Signal(SIGKILL);
        xdotool.Wait(5000);
    }
    if (status != 0) {
        return std::nullopt;
    }
    return xdotool.Output();
}

std::optional<std::string> VirtualDesktop::FindWindow(const std::string& title, int excludedPid,
                                                      int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::optional<std::string> windows =
            Xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"});
        std::istringstream lines(windows.value_or(""));
        for (std::string id; std::getline(lines, id);) {
            const std::optional<std::string> pid = Xdotool({"getwindowpid", id});
            if (excludedPid == 0 ||
                (pid.has_value() && !pid->empty() && std::stoi(*pid) != excludedPid)) {
                return id;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

std::optional<ScreenPlace> VirtualDesktop::WindowPlace(const std::string& id) const {
    const std::optional<std::string> shell = Xdotool({"getwindowgeometry", "--shell", id});
    std::smatch match;
    const std::regex geometry("X=(-?[0-9]+)\nY=(-?[0-9]+)\nWIDTH=([0-9]+)\nHEIGHT=([0-9]+)");
    if (!shell || !std::regex_search(*shell, match, geometry)) {
        return std::nullopt;
    }
    return ScreenPlace{std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3]),
                       std::stoi(match[4])};
}

std::vector<ScreenPlace> VirtualDesktop::WindowPlacesOf(int pid) const {
    const std::optional<std::string> windows =
        Xdotool({"search", "--onlyvisible", "--pid", std::to_string(pid), "--name", ""});
    std::vector<ScreenPlace> places;
    std::istringstream ids(windows.value_or(""));
    for (std::string id; std::getline(ids, id);) {
        if (const std::optional<ScreenPlace> place = WindowPlace(id)) {
            places.push_back(*place);
        }
    }
    return places;
}

bool VirtualDesktop::Click(const ScreenPlace& place, int button) const {
    return Xdotool({"mousemove", std::to_string(place.x + place.width / 2),
                    std::to_string(place.y + place.height / 4), "click", std::to_string(button)})
        .has_value();
}

void StopChild(ChildProcess& child) {
    if (child.Pid() > 0) {
        child.Signal(SIGTERM);
        if (child.Wait(5000) == -1) {
            child.Signal(SIGKILL);
            child.Wait(5000);
        }
    }
}

std::string DebugLogText() {
    std::string text;
    const std::string folder = DebugLogFolder();
    for (const std::string& name : ListFolder(folder)) {
        text += ReadFileText(folder + "/" + name);
    }
    return text;
}

}  // namespace quarnel::test
