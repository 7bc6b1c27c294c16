#pragma once

// Starting the tray at log-in: XDG autostart desktop entries whose Exec= key holds the quoted
// program path, one for all users and one for the current user.

#include <cstdint>
#include <string>

namespace quarnel {

inline constexpr int AutostartAllUsers = 0x01;
inline constexpr int AutostartThisUser = 0x10;

// /etc/xdg/autostart/<name>.desktop below QUARNEL_ROOT.
std::string AllUsersAutostartPath(const std::string& name);
// $XDG_CONFIG_HOME/autostart/<name>.desktop (~/.config when unset) below QUARNEL_ROOT.
std::string ThisUserAutostartPath(const std::string& name);

// The value of Exec= for the program: the path in double quotes, escaped as desktop entries
// require.
std::string AutostartCommand(const std::string& programPath);
// A whole desktop entry that starts the program's tray.
std::string BuildAutostartEntry(const std::string& name, const std::string& programPath);

// The state: AutostartThisUser and AutostartAllUsers for each entry that exists and whose Exec=
// is exactly AutostartCommand(programPath). An entry naming another program, or this one
// unquoted, counts as absent.
std::int64_t GetAutostart(const std::string& name, const std::string& programPath);

// Writes the entry of each flag that is set and removes the entry of each flag that is not,
// then returns GetAutostart. A write that fails (no rights) shows in the state only.
std::int64_t SetAutostart(const std::string& name, const std::string& programPath, int flags);

}  // namespace quarnel
