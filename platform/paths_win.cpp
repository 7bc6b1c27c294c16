#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/wide_text_win.h"

namespace quarnel {
namespace {

std::string Environment(const wchar_t* name) {
    const wchar_t* value = ::_wgetenv(name);
    return value ? Narrow(value) : std::string();
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

std::string QuarnelRoot() {
    std::string root = Environment(L"QUARNEL_ROOT");
    while (!root.empty() && IsSeparator(root.back())) {
        root.pop_back();
    }
    return root;
}

// Below a root, a path keeps its folders but not its drive: "C:\ProgramData" becomes
// "<root>\ProgramData".
std::string RootedPath(std::string_view absolutePath) {
    const std::string root = QuarnelRoot();
    if (root.empty()) {
        return std::string(absolutePath);
    }
    if (absolutePath.size() >= 2 && absolutePath[1] == ':') {
        absolutePath.remove_prefix(2);
    }
    if (!absolutePath.empty() && !IsSeparator(absolutePath.front())) {
        return root + "\\" + std::string(absolutePath);
    }
    return root + std::string(absolutePath);
}

// The service (the system account) logs to the machine's shared application data, as the
// product always has; any other account to its own local application data, because the entries
// name hosts, accounts and addresses and a folder there is closed to other users.
std::string DebugLogFolder() {
    std::string base;
    if (CurrentUserId() == 0) {
        base = Environment(L"ALLUSERSPROFILE");
    } else {
        base = Environment(L"LOCALAPPDATA");
    }
    if (base.empty()) {
        base = Environment(L"ALLUSERSPROFILE");
    }
    return RootedPath(base + "\\Quarnel Updater");
}

// The registry and the event log are the system's own on Windows: these folders only exist
// for what the Linux build keeps in files, and are named for completeness.
std::string MachineRegistryFolder() {
    return RootedPath(Environment(L"ALLUSERSPROFILE") + "\\Quarnel Updater\\registry");
}

std::string UserRegistryFolder() {
    return RootedPath(Environment(L"LOCALAPPDATA") + "\\Quarnel Updater\\registry");
}

std::string EventLogFolder() {
    return RootedPath(Environment(L"ALLUSERSPROFILE") + "\\Quarnel Updater\\eventlog");
}

std::string RuntimeFolder() {
    return RootedPath(Environment(L"ALLUSERSPROFILE") + "\\Quarnel Updater\\run");
}

// Modes are a Linux notion; a folder made here inherits the access rules of its parent.
bool CreateFolders(const std::string& path, unsigned /*mode*/) {
    if (path.empty()) {
        return false;
    }
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || IsSeparator(path[pos])) {
            const std::string part = path.substr(0, pos);
            if (part.size() == 2 && part[1] == ':') {
                continue;  // a drive
            }
            if (!::CreateDirectoryW(Widen(part).c_str(), nullptr) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
        }
    }
    const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace quarnel
