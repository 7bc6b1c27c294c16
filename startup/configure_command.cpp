#include "startup/configure_command.h"

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "diagnostics/log.h"
#include "platform/line_reader.h"
#include "platform/paths.h"
#include "platform/terminal.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/configure_input.h"
#include "startup/stored_settings.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr int kAttemptsPerQuestion = 3;

void Fail(const std::string& problem, bool nothingChanged = true) {
    QLOG(kLogError, "RunConfigure", problem);
    std::fprintf(stderr, "quarnel-updater: /configure: %s%s\n", problem.c_str(),
                 nothingChanged ? "; nothing was changed" : "");
}

std::string CurrentDisplay(SettingField field, const SettingsValues& stored) {
    switch (field) {
        case SettingField::UserName:
            return stored.userName;
        case SettingField::Password:
            return stored.password.empty() ? "" : "stored; Enter keeps it";
        case SettingField::HostName:
            return stored.hostName;
        case SettingField::Provider:
            return ProviderDisplayName(stored.providerIndex);
        case SettingField::Interval:
            return std::to_string(stored.intervalMinutes);
        case SettingField::LocalFilter:
            return stored.localFilter ? "yes" : "no";
        case SettingField::LocalNetworks:
            return stored.localNetworks->empty() ? "" : ListDisplay(stored.localNetworks);
        case SettingField::WirelessFilter:
            return stored.wirelessFilter ? "yes" : "no";
        case SettingField::WirelessNetworks:
            return stored.wirelessNetworks->empty() ? "" : ListDisplay(stored.wirelessNetworks);
    }
    return {};
}

std::string LineProblem(LineStatus status) {
    switch (status) {
        case LineStatus::TooLong:
            return "a line is longer than " + std::to_string(kMaximumSettingLineLength) +
                   " characters";
        case LineStatus::Truncated:
            return "the input ended in the middle of a line";
        case LineStatus::End:
            return "the input ended before every setting was given";
        case LineStatus::Failed:
            return "standard input could not be read";
        case LineStatus::Line:
            break;
    }
    return {};
}

// Asks for every setting on the terminal; Enter keeps the stored value.
bool AskOnTerminal(const SettingsValues& stored, SettingsChanges& changes, std::string& problem) {
    LineReader reader(STDIN_FILENO, kMaximumSettingLineLength);
    std::printf("Settings of Quarnel Updater. Press Enter to keep the value in brackets.\n");
    for (const SettingFieldInfo& info : SettingFields()) {
        bool accepted = false;
        for (int attempt = 0; attempt < kAttemptsPerQuestion && !accepted; ++attempt) {
            // Echo goes off before the prompt shows, so nothing typed after it is echoed.
            std::optional<HiddenInput> hidden;
            if (info.secret) {
                hidden.emplace(STDIN_FILENO);
            }
            const std::string current = CurrentDisplay(info.field, stored);
            std::printf("%s%s: ", info.prompt,
                        current.empty() ? "" : (" [" + current + "]").c_str());
            std::fflush(stdout);
            std::string line;
            const LineStatus status = reader.ReadLine(line);
            hidden.reset();
            if (status != LineStatus::Line) {
                problem = LineProblem(status);
                return false;
            }
            std::string error;
            accepted = AcceptSettingValue(info.field, line, changes, error);
            if (!accepted) {
                std::printf("  %s\n", error.c_str());
                problem = error;
            }
        }
        if (!accepted) {
            return false;
        }
    }
    return true;
}

// Reads "Name=Value" lines up to the end of the input; the first bad line stops it.
bool ReadSettingLines(SettingsChanges& changes, std::string& problem) {
    LineReader reader(STDIN_FILENO, kMaximumSettingLineLength);
    int lineNumber = 0;
    bool anySetting = false;
    while (true) {
        std::string line;
        const LineStatus status = reader.ReadLine(line);
        ++lineNumber;
        if (status == LineStatus::End) {
            break;
        }
        if (status != LineStatus::Line) {
            problem = "line " + std::to_string(lineNumber) + ": " + LineProblem(status);
            return false;
        }
        std::string error;
        if (!AcceptSettingLine(line, changes, error)) {
            problem = "line " + std::to_string(lineNumber) + ": " + error;
            return false;
        }
        // An accepted line that is neither blank nor a comment is a setting.
        const std::size_t first = line.find_first_not_of(" \t");
        anySetting = anySetting || (first != std::string::npos && line[first] != '#');
    }
    if (!anySetting) {
        problem =
            "no settings on standard input (expected lines of the form Name=Value, e.g. "
            "Hostname=example.dyndns.org)";
        return false;
    }
    return true;
}

SettingsValues Merge(const SettingsValues& stored, const SettingsChanges& changes) {
    SettingsValues values = stored;
    values.userName = changes.userName.value_or(stored.userName);
    values.password = changes.password.value_or(stored.password);
    values.hostName = changes.hostName.value_or(stored.hostName);
    values.providerIndex = changes.providerIndex.value_or(stored.providerIndex);
    values.intervalMinutes = changes.intervalMinutes.value_or(stored.intervalMinutes);
    values.localFilter = changes.localFilter.value_or(stored.localFilter);
    values.wirelessFilter = changes.wirelessFilter.value_or(stored.wirelessFilter);
    if (changes.localNetworks) {
        values.localNetworks = changes.localNetworks;
    }
    if (changes.wirelessNetworks) {
        values.wirelessNetworks = changes.wirelessNetworks;
    }
    return values;
}

}  // namespace

std::int64_t RunConfigure(const ApplyOperations& operations) {
    const SettingsValues stored = ReadStoredSettings();
    SettingsChanges changes;
    std::string problem;
    const bool read = IsTerminal(STDIN_FILENO) ? AskOnTerminal(stored, changes, problem)
                                               : ReadSettingLines(changes, problem);
    if (!read) {
        Fail(problem);
        return 0;
    }

    // Rewriting the stored time stamp as it is proves that the store can be written before
    // anything in it changes.
    const std::int64_t storedTime = ReadTimeStamp(kMachine, kSettingsKey, kValueTime);
    if (CreateRegistryKey(kMachine, kSettingsKey) == 0 ||
        WriteTimeStamp(kMachine, kSettingsKey, kValueTime, storedTime) == 0) {
        Fail("the settings store in " + MachineRegistryFolder() +
             " cannot be written (run this as root)");
        return 0;
    }

    const SettingsValues values = Merge(stored, changes);
    std::int64_t controlled = -1;
    ApplyOperations wrapped = operations;
    if (operations.controlService) {
        wrapped.controlService = [&](std::uint32_t code) {
            controlled = operations.controlService(code);
            return controlled;
        };
    }
    const std::int64_t before = CurrentTimeStamp();
    ApplySettings(values, wrapped);

    if (ReadTimeStamp(kMachine, kSettingsKey, kValueTime) < before ||
        ReadRegistryString(kMachine, kSettingsKey, kValueHostname) != values.hostName) {
        Fail("the settings could not be stored completely in " + MachineRegistryFolder(), false);
        return 0;
    }
    QLOG(kLogInfo, "RunConfigure", "Settings stored");
    std::printf("Settings saved.\n");
    if (controlled > 0) {
        std::printf("The service was told to update now.\n");
    } else if (controlled == 0) {
        std::printf(
            "The service is installed but not running; it uses the new settings when "
            "it starts.\n");
    }
    return 1;
}

}  // namespace quarnel
