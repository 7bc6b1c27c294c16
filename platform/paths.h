#pragma once

// Where the program keeps its files. Every path is prefixed by the environment variable
// QUARNEL_ROOT when it is set, so tests and a first try without root never touch the system.

#include <string>
#include <string_view>

namespace quarnel {

// The value of QUARNEL_ROOT without trailing slashes, or the empty text.
std::string QuarnelRoot();
// absolutePath below QUARNEL_ROOT (unchanged when it is not set).
std::string RootedPath(std::string_view absolutePath);

// The debug-log folder: /var/log/quarnel-updater for root, $XDG_STATE_HOME/quarnel-updater for
// other users (~/.local/state when unset); never a shared, world-writable folder.
std::string DebugLogFolder();
// Machine-wide registry hives: /var/lib/quarnel-updater/registry.
std::string MachineRegistryFolder();
// The current user's hive: $XDG_CONFIG_HOME/quarnel-updater/registry (~/.config when unset).
std::string UserRegistryFolder();
// The event log: /var/lib/quarnel-updater/eventlog.
std::string EventLogFolder();
// Runtime files of the service (its control socket, its instance marker): /run/quarnel-updater.
std::string RuntimeFolder();

// Creates a folder and its missing parents; every folder it creates gets exactly mode, whatever
// the umask. True when the folder exists afterwards.
bool CreateFolders(const std::string& path, unsigned mode);

}  // namespace quarnel
