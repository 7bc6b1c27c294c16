#include "libraries/src/service/autostart.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "diagnostics/log.h"
#include "libraries/src/service/unit_file.h"
#include "platform/atomic_file.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace quarnel {
namespace {

constexpr std::size_t kMaximumEntrySize = 64 * 1024;

// The entry's file name: the unit name rule gives "quarnel-updater" for "Quarnel Updater".
std::string EntryFileName(const std::string& name) {
    std::string file = UnitFileName(name);
    return file.substr(0, file.size() - std::string(".service").size()) + ".desktop";
}

std::string ConfigHome() {
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    if (configured != nullptr && configured[0] == '/') {
        return configured;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

// True when the [Desktop Entry] group's Exec= is exactly command and the entry is not marked
// Hidden=true (the XDG way of saying "deleted").
bool EntryStartsProgram(const std::string& path, const std::string& command) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, kMaximumEntrySize, bytes)) {
        return false;
    }
    bool inMainGroup = false;
    bool execMatches = false;
    bool hidden = false;
    for (std::string& line : SplitText(
             std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), '\n')) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
        } else if (inMainGroup && line.rfind("Exec=", 0) == 0) {
            execMatches = line.substr(5) == command;
        } else if (inMainGroup && line == "Hidden=true") {
            hidden = true;
        }
    }
    return execMatches && !hidden;
}

// Failures are told to the user too: the switches' exit code alone does not say why.
bool WriteEntry(const std::string& path, const std::string& entry, unsigned folderMode) {
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!CreateFolders(folder, folderMode) || !WriteFileAtomically(path, entry, 0644)) {
        const std::uint32_t error = GetLastErrorCode();
        QLOG_ERROR_CODE(kLogError, "SetAutostart", "Cannot write " + path, error);
        std::fprintf(stderr, "quarnel-updater: cannot write %s: %s\n", path.c_str(),
                     SystemErrorText(error).c_str());
        return false;
    }
    QLOG(kLogInfo, "SetAutostart", "Wrote " + path);
    return true;
}

void RemoveEntry(const std::string& path) {
    if (!RemoveFileDurably(path)) {
        const std::uint32_t error = GetLastErrorCode();
        QLOG_ERROR_CODE(kLogError, "SetAutostart", "Cannot remove " + path, error);
        std::fprintf(stderr, "quarnel-updater: cannot remove %s: %s\n", path.c_str(),
                     SystemErrorText(error).c_str());
    }
}

}  // namespace

std::string AllUsersAutostartPath(const std::string& name) {
    return RootedPath("/etc/xdg/autostart/" + EntryFileName(name));
}

std::string ThisUserAutostartPath(const std::string& name) {
    return RootedPath(ConfigHome() + "/autostart/" + EntryFileName(name));
}

std::string AutostartCommand(const std::string& programPath) {
    // Inside the quotes of an Exec= argument, '"', '`', '$' and '\' take a backslash; the key's
    // value then escapes every backslash once more. '%' introduces field codes and is doubled.
    std::string command = "\"";
    for (const char c : programPath) {
        if (c == '"' || c == '`' || c == '$') {
            command += "\\\\";
            command += c;
        } else if (c == '\\') {
            command += "\\\\\\\\";
        } else if (c == '%') {
            command += "%%";
        } else if (c == '\n') {
            command += "\\n";
        } else if (c == '\t') {
            command += "\\t";
        } else if (c == '\r') {
            command += "\\r";
        } else {
            command += c;
        }
    }
    return command + "\"";
}

std::string BuildAutostartEntry(const std::string& name, const std::string& programPath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           name +
           "\n"
           "Exec=" +
           AutostartCommand(programPath) +
           "\n"
           "Icon=quarnel-updater\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::int64_t GetAutostart(const std::string& name, const std::string& programPath) {
    const std::string command = AutostartCommand(programPath);
    std::int64_t state = 0;
    if (EntryStartsProgram(ThisUserAutostartPath(name), command)) {
        state |= AutostartThisUser;
    }
    if (EntryStartsProgram(AllUsersAutostartPath(name), command)) {
        state |= AutostartAllUsers;
    }
    return state;
}

std::int64_t SetAutostart(const std::string& name, const std::string& programPath, int flags) {
    const std::string entry = BuildAutostartEntry(name, programPath);
    if ((flags & AutostartThisUser) != 0) {
        // A new ~/.config stays private to its user.
        (void)WriteEntry(ThisUserAutostartPath(name), entry, 0700);
    }
    if ((flags & AutostartAllUsers) != 0) {
        (void)WriteEntry(AllUsersAutostartPath(name), entry, 0755);
    }
    // The other entry goes only once the asked-for ones are in place: a user who may not write
    // the all-users entry keeps the tray starting from the own one instead of losing both.
    if ((GetAutostart(name, programPath) & flags) != flags) {
        std::fprintf(stderr, "quarnel-updater: the tray autostart was not changed\n");
        return GetAutostart(name, programPath);
    }
    if ((flags & AutostartThisUser) == 0) {
        RemoveEntry(ThisUserAutostartPath(name));
    }
    if ((flags & AutostartAllUsers) == 0) {
        RemoveEntry(AllUsersAutostartPath(name));
    }
    return GetAutostart(name, programPath);
}

}  // namespace quarnel
