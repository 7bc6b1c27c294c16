#pragma once

// Shared libraries loaded at run time and kept until the process ends, and the desktop session
// that the program's windows need.

#include <string>
#include <string_view>

namespace quarnel {

// name with the platform's suffix: "<name>.so", "<name>.dll".
std::string SharedModuleFileName(std::string_view name);
// The characters that separate a path's folders: "/", or "\\/" on Windows.
const char* PathSeparators();
// Whether path is an absolute path of this platform.
bool IsAbsolutePath(std::string_view path);
// Whether a file exists at path.
bool FileExists(const std::string& path);
// Loads the module; null on failure, and error then says why (for example a missing library).
void* LoadSharedModule(const std::string& path, std::string& error);
void* FindModuleSymbol(void* module, const char* symbol);

// Whether the process can reach a desktop: on Linux a display is named (QT_QPA_PLATFORM,
// WAYLAND_DISPLAY or DISPLAY), on Windows it runs on the interactive window station.
bool IsDisplayNamed();
// What that takes, for the message when it is missing.
const char* DisplayRequirement();

}  // namespace quarnel
