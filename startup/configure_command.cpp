#include "startup/configure_command.h"

#include <cstddef>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/endpoint_value.h"
#include "ddns/provider_update.h"
#include "diagnostics/log.h"
#include "platform/hook_process.h"
#include "platform/line_reader.h"
#include "platform/paths.h"
#include "platform/terminal.h"
#include "platform/visible_text.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/configure_input.h"
#include "startup/stored_settings.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr int kAttemptsPerQuestion = 3;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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
        case SettingField::IPv6:
            return stored.ipv6 ? "yes" : "no";
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
    LineReader reader(kStandardInput, kMaximumSettingLineLength);
    std::printf("Settings of Quarnel Updater. Press Enter to keep the value in brackets.\n");
    for (const SettingFieldInfo& info : SettingFields()) {
        bool accepted = false;
        for (int attempt = 0; attempt < kAttemptsPerQuestion && !accepted; ++attempt) {
            // Echo goes off before the prompt shows, so nothing typed after it is echoed.
            std::optional<HiddenInput> hidden;
            if (info.secret) {
                hidden.emplace(kStandardInput);
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
    LineReader reader(kStandardInput, kMaximumSettingLineLength);
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
        if (lineNumber == 1 && line.starts_with(kByteOrderMark)) {
            line.erase(0, kByteOrderMark.size());  // as editors on some systems save UTF-8
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
    values.ipv6 = changes.ipv6.value_or(stored.ipv6);
    if (changes.localNetworks) {
        values.localNetworks = changes.localNetworks;
    }
    if (changes.wirelessNetworks) {
        values.wirelessNetworks = changes.wirelessNetworks;
    }
    return values;
}

std::vector<std::string> ListOf(const std::optional<std::vector<std::string>>& list) {
    return list.value_or(std::vector<std::string>());
}

// The names of the settings whose values differ between the two.
std::vector<std::string> DifferentSettings(const SettingsValues& a, const SettingsValues& b) {
    std::vector<std::string> names;
    const auto compare = [&names](bool same, const char* name) {
        if (!same) {
            names.push_back(name);
        }
    };
    compare(a.userName == b.userName, "Username");
    compare(a.password == b.password, "Password");
    compare(a.hostName == b.hostName, "Hostname");
    compare(a.providerIndex == b.providerIndex, "Provider");
    compare(a.intervalMinutes == b.intervalMinutes, "Interval");
    compare(a.localFilter == b.localFilter, "LocalFilter");
    compare(ListOf(a.localNetworks) == ListOf(b.localNetworks), "LocalNetworks");
    compare(a.wirelessFilter == b.wirelessFilter, "WirelessFilter");
    compare(ListOf(a.wirelessNetworks) == ListOf(b.wirelessNetworks), "WirelessNetworks");
    compare(a.ipv6 == b.ipv6, "IPv6");
    return names;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

// The endpoint overrides asked for, "UpdateHost" resolved with the provider being stored.
std::map<Endpoint, std::string> EndpointsAsked(const SettingsChanges& changes,
                                               std::int64_t providerIndex) {
    std::map<Endpoint, std::string> endpoints = changes.endpoints;
    if (changes.updateHost) {
        if (const auto endpoint = ProviderUpdateEndpoint(providerIndex)) {
            endpoints[*endpoint] = *changes.updateHost;
        }
    }
    return endpoints;
}

bool HasOuterBlank(const std::string& text) {
    return !text.empty() && (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' ||
                             text.back() == '\t');
}

// Values that the apply step cannot empty (it never writes an empty text) are removed first.
void RemoveClearedValues(const SettingsValues& stored, const SettingsValues& values) {
    if (values.hostName.empty() && !stored.hostName.empty()) {
        (void)DeleteRegistryValue(kMachine, kSettingsKey, kValueHostname);
    }
    if (ListOf(values.localNetworks).empty() && !ListOf(stored.localNetworks).empty()) {
        (void)DeleteRegistryValue(kMachine, kSettingsKey, kValueLocalNetworks);
    }
    if (ListOf(values.wirelessNetworks).empty() && !ListOf(stored.wirelessNetworks).empty()) {
        (void)DeleteRegistryValue(kMachine, kSettingsKey, kValueWirelessNetworks);
    }
}

// Stores the hook user (the empty text removes it); true when the store gives it back.
bool StoreHookUser(const std::string& user) {
    if (user.empty()) {
        (void)DeleteRegistryValue(kMachine, kSettingsKey, kValueHookUser);
    } else if (CreateRegistryKey(kMachine, kSettingsKey) == 0) {
        return false;
    } else {
        (void)WriteRegistryString(kMachine, kSettingsKey, kValueHookUser, user);
    }
    return ReadRegistryString(kMachine, kSettingsKey, kValueHookUser) == user;
}

}  // namespace

std::int64_t RunConfigure(const ApplyOperations& operations) {
    const SettingsValues stored = ReadStoredSettings();
    SettingsChanges changes;
    std::string problem;
    const bool read = IsTerminal(kStandardInput) ? AskOnTerminal(stored, changes, problem)
                                                 : ReadSettingLines(changes, problem);
    if (!read) {
        Fail(problem);
        return kConfigureRefused;
    }
    if (changes.password && HasOuterBlank(*changes.password)) {
        std::fprintf(stderr,
                     "quarnel-updater: /configure: warning: the password starts or ends with a "
                     "blank, which is stored as part of it\n");
    }

    const SettingsValues values = Merge(stored, changes);
    if (values.hostName.empty() && changes.hostName && values.providerIndex != kProviderDnsOMatic) {
        Fail("Hostname cannot be empty for " + ProviderDisplayName(values.providerIndex) +
             " (only DNS-O-Matic updates every host of the account without one)");
        return kConfigureRefused;
    }
    if (changes.updateHost && !ProviderUpdateEndpoint(values.providerIndex)) {
        Fail(std::string(kUpdateHostName) + " needs a provider (0 to 5); the stored one is " +
             ProviderDisplayName(values.providerIndex));
        return kConfigureRefused;
    }
    const bool hookUserChanged =
        changes.hookUser &&
        *changes.hookUser != ReadRegistryString(kMachine, kSettingsKey, kValueHookUser);
    if (hookUserChanged && !changes.hookUser->empty()) {
        if (const std::string refusal = HookUserRefusal(*changes.hookUser); !refusal.empty()) {
            Fail(refusal);
            return kConfigureRefused;
        }
    }
    std::map<Endpoint, std::string> endpoints = EndpointsAsked(changes, values.providerIndex);
    std::erase_if(endpoints, [](const auto& entry) {
        return ReadEndpointOverride(entry.first) == entry.second;
    });
    // The hook user is nothing the provider is told: it changes without a new time stamp.
    if (hookUserChanged) {
        if (!StoreHookUser(*changes.hookUser)) {
            Fail("the settings store in " + MachineRegistryFolder() +
                 " cannot be written (run this as root)");
            return kConfigureNotStored;
        }
        std::printf("Hooks run as %s.\n", changes.hookUser->empty()
                                              ? "the program's system user"
                                              : VisibleText(*changes.hookUser).c_str());
    }
    const std::int64_t storedTime = ReadTimeStamp(kMachine, kSettingsKey, kValueTime);
    if (storedTime > 0 && endpoints.empty() && DifferentSettings(stored, values).empty()) {
        QLOG(kLogInfo, "RunConfigure", "Settings unchanged, nothing written");
        if (!hookUserChanged) {
            std::printf("Nothing to change: the settings are stored as given.\n");
        }
        return kConfigureDone;
    }

    // Rewriting the stored time stamp as it is proves that the store can be written before
    // anything in it changes.
    if (CreateRegistryKey(kMachine, kSettingsKey) == 0 ||
        WriteTimeStamp(kMachine, kSettingsKey, kValueTime, storedTime) == 0) {
        Fail("the settings store in " + MachineRegistryFolder() +
             " cannot be written (run this as root)");
        return kConfigureNotStored;
    }

    // Endpoints first: the new time stamp that the apply step writes last tells the service to
    // use all of it.
    std::vector<std::string> unread;
    for (const auto& [endpoint, value] : endpoints) {
        std::string error;
        if (!StoreEndpointOverride(endpoint, value, error)) {
            unread.emplace_back(EndpointValueName(endpoint));
        }
    }
    RemoveClearedValues(stored, values);
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

    // Success is what the store gives back, not what the writes reported.
    for (const std::string& name : DifferentSettings(ReadStoredSettings(), values)) {
        unread.push_back(name);
    }
    if (ReadTimeStamp(kMachine, kSettingsKey, kValueTime) < before) {
        unread.emplace_back(kValueTime);
    }
    if (!unread.empty()) {
        Fail("these values did not read back as written: " + JoinNames(unread) + " (in " +
                 MachineRegistryFolder() + ")",
             false);
        return kConfigureNotStored;
    }
    QLOG(kLogInfo, "RunConfigure", "Settings stored");
    std::printf("Settings saved.\n");
    if (values.ipv6 && !ProviderTakesIPv6(values.providerIndex)) {
        std::printf("%s takes IPv4 addresses only: the IPv6 setting has no effect with it.\n",
                    ProviderDisplayName(values.providerIndex).c_str());
    }
    if (controlled > 0) {
        std::printf("The service was told to update now.\n");
    } else if (controlled == 0) {
        std::printf(
            "The service is installed but not running; it uses the new settings when "
            "it starts.\n");
    }
    return kConfigureDone;
}

}  // namespace quarnel
