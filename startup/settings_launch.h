#pragma once

// Starting the settings window from the tray: the setting process runs as root (it writes the
// machine-wide settings), started through pkexec, or directly when the caller is root already.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/native_handle.h"

namespace quarnel {

// Called once the program started by RunElevated has ended, with the handle RunElevated returned
// (still open during the call).
using ElevatedEndCallback = std::function<void(NativeHandle processHandle)>;

// Runs file with parameters in directory as root: directly when this process is root, otherwise
// through pkexec (whose polkit action keeps the display variables). Without callback: waits and
// returns the program's exit code, 0 when it could not be started. With callback: returns a
// process handle that a watch thread closes after calling callback, or -1 when nothing was
// started.
std::int64_t RunElevated(const std::string& file, const std::vector<std::string>& parameters,
                         const std::string& directory, const ElevatedEndCallback& callback);

// Whether RunElevated can run anything: this process is root, or pkexec is installed.
bool CanRunElevated();

// Opens the settings window: brings the running setting process's window forward (instance
// code 2) when this process started one that still runs, else starts "/setting" elevated.
// Returns 0.
std::int64_t LaunchSettings();

// The end of a setting process: forgets it when it is the one LaunchSettings started.
void SettingProcessEnded(NativeHandle processHandle);

}  // namespace quarnel
