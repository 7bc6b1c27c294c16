#pragma once

// Writing everything the settings window shows into the store, then telling the service and
// the autostart entries about it. The window's OK and a command line can both call it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quarnel {

// The user-defined service control code that makes the service run an update cycle at once.
inline constexpr std::uint32_t ControlCodeSettingsChanged = 128;

// Autostart modes of the tray.
inline constexpr int kAutostartOff = 0;
inline constexpr int kAutostartAllUsers = 0x01;
inline constexpr int kAutostartThisUser = 0x10;

struct SettingsValues {
    std::string userName;
    std::string password;
    std::string hostName;
    std::int64_t intervalMinutes = 0;  // of the selected entry; 0 when none is selected
    std::int64_t providerIndex = 0;    // 0 DynDNS ... 5 No-IP
    bool localFilter = false;
    bool wirelessFilter = false;  // false when there are no wireless controls
    // The entries of each network list; nullopt when the list is not shown at all.
    std::optional<std::vector<std::string>> localNetworks;
    std::optional<std::vector<std::string>> wirelessNetworks;
    // Also keep the host name's IPv6 address current (the IPv6 value).
    bool ipv6 = false;
    bool beta = false;
    int autostartMode = kAutostartOff;  // kAutostartAllUsers, kAutostartThisUser or off
};

// The steps that belong to other parts of the program, on this program's own service and
// autostart entries. An operation left empty is skipped.
struct ApplyOperations {
    std::function<std::int64_t(int mode)> setAutostart;
    std::function<std::int64_t()> serviceExists;
    std::function<std::int64_t(std::uint32_t controlCode)> controlService;
    std::function<std::int64_t()> isCurrentUserAdmin;
    // Starts this program with the arguments in the current folder and does not wait for it.
    std::function<std::int64_t(const std::string& arguments)> startProgram;
};

// Writes the product key (SoftwareBeta, SoftwareBuild) and the settings key (Time last, so the
// service sees the settings as changed only once they are complete), sets the tray autostart,
// tells an installed service, and, for an administrator who chose beta versions, starts the
// software update. Empty texts leave the stored ones in place. Returns 0.
int ApplySettings(const SettingsValues& values, const ApplyOperations& operations);

}  // namespace quarnel
