#include "startup/configure_input.h"

#include <cstddef>
#include <utility>

#include "ddns/endpoint_value.h"
#include "ddns/provider_update.h"
#include "platform/text.h"
#include "platform/visible_text.h"

namespace quarnel {
namespace {

constexpr std::size_t kMaximumTextLength = 255;
constexpr std::size_t kMaximumHostNameLength = 253;
constexpr std::size_t kMaximumLabelLength = 63;
constexpr std::size_t kMaximumSsidLength = 32;
constexpr std::size_t kMaximumListEntries = 64;
constexpr std::int64_t kMaximumIntervalMinutes = 7 * 24 * 60;

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool HasControlCharacter(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

// The text as it can be shown in a message: at most 40 bytes, control characters as \xNN.
std::string Printable(std::string_view text) {
    return VisibleText(text.substr(0, 40)) + (text.size() > 40 ? "..." : "");
}

bool CheckText(const char* what, std::string_view value, std::string& error) {
    if (value.size() > kMaximumTextLength) {
        error = std::string(what) + " is longer than " + std::to_string(kMaximumTextLength) +
                " characters";
        return false;
    }
    if (HasControlCharacter(value)) {
        error = std::string(what) + " contains a control character";
        return false;
    }
    return true;
}

// Letters, digits and hyphens in labels of 1 to 63 characters that neither start nor end with a
// hyphen, joined by dots; at most 253 characters.
bool CheckHostName(const char* what, std::string_view name, std::string& error) {
    const std::string shown = "\"" + Printable(name) + "\"";
    if (name.empty()) {
        error = std::string(what) + " has an empty entry";
        return false;
    }
    if (name.size() > kMaximumHostNameLength) {
        error = std::string(what) + " " + shown + " is longer than " +
                std::to_string(kMaximumHostNameLength) + " characters";
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('.', start);
        if (end == std::string_view::npos) {
            end = name.size();
        }
        const std::string_view label = name.substr(start, end - start);
        if (label.empty() || label.size() > kMaximumLabelLength) {
            error = std::string(what) + " " + shown + " has an empty or over-long part";
            return false;
        }
        for (const char c : label) {
            const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                 (c >= '0' && c <= '9') || c == '-';
            if (!allowed) {
                error = std::string(what) + " " + shown +
                        (c == ' ' || c == '\t' ? " contains a blank"
                         : HasControlCharacter(std::string_view(&c, 1))
                             ? " contains a control character"
                             : " contains a character other than letters, digits, hyphens "
                               "and dots");
                return false;
            }
        }
        if (label.front() == '-' || label.back() == '-') {
            error =
                std::string(what) + " " + shown + " has a part that starts or ends with a hyphen";
            return false;
        }
        start = end + 1;
    }
    return true;
}

// Comma-separated entries with blanks around each removed.
std::vector<std::string> SplitList(std::string_view value) {
    std::vector<std::string> entries = SplitText(value, ',');
    for (std::string& entry : entries) {
        entry = std::string(TrimBlanks(entry));
    }
    return entries;
}

bool CheckListSize(const char* what, const std::vector<std::string>& entries, std::string& error) {
    if (entries.size() > kMaximumListEntries) {
        error = std::string(what) + " has more than " + std::to_string(kMaximumListEntries) +
                " entries";
        return false;
    }
    return true;
}

bool ParseFlag(const char* what, std::string_view value, bool& flag, std::string& error) {
    const std::string lower = ToLowerAscii(value);
    if (lower == "1" || lower == "yes" || lower == "y" || lower == "true" || lower == "on") {
        flag = true;
        return true;
    }
    if (lower == "0" || lower == "no" || lower == "n" || lower == "false" || lower == "off") {
        flag = false;
        return true;
    }
    error = std::string(what) + " must be yes or no (1 or 0), not \"" + Printable(value) + "\"";
    return false;
}

// Digits only, no sign; false when empty or too large to matter.
bool ParseCount(std::string_view text, std::int64_t& number) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + (c - '0');
    }
    return true;
}

std::string LettersAndDigits(std::string_view text) {
    std::string kept;
    for (const char c : ToLowerAscii(text)) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            kept += c;
        }
    }
    return kept;
}

bool AcceptProvider(std::string_view value, SettingsChanges& changes, std::string& error) {
    std::int64_t index = 0;
    const auto& names = ProviderNames();
    if (!ParseCount(value, index)) {
        index = -1;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (LettersAndDigits(names[i]) == LettersAndDigits(value)) {
                index = static_cast<std::int64_t>(i);
            }
        }
    }
    if (index < 0 || index >= static_cast<std::int64_t>(names.size())) {
        error = "unknown provider \"" + Printable(value) + "\"; give 0 to 5 or one of: ";
        for (std::size_t i = 0; i < names.size(); ++i) {
            error += (i == 0 ? "" : ", ") + names[i];
        }
        return false;
    }
    changes.providerIndex = index;
    return true;
}

bool AcceptInterval(std::string_view value, SettingsChanges& changes, std::string& error) {
    std::int64_t minutes = 0;
    if (!ParseCount(value, minutes) || minutes < 1 || minutes > kMaximumIntervalMinutes) {
        error = "the interval must be a whole number of minutes from 1 to " +
                std::to_string(kMaximumIntervalMinutes) + ", not \"" + Printable(value) + "\"";
        return false;
    }
    changes.intervalMinutes = minutes;
    return true;
}

bool AcceptLocalNetworks(std::string_view value, SettingsChanges& changes, std::string& error) {
    // A local network is named by its DHCP domain or its gateway's address.
    std::vector<std::string> entries = SplitList(value);
    if (!CheckListSize("the local network list", entries, error)) {
        return false;
    }
    for (const std::string& entry : entries) {
        if (!CheckHostName("the local network", entry, error)) {
            return false;
        }
    }
    changes.localNetworks = std::move(entries);
    return true;
}

bool AcceptWirelessNetworks(std::string_view value, SettingsChanges& changes, std::string& error) {
    std::vector<std::string> entries = SplitList(value);
    if (!CheckListSize("the wireless network list", entries, error)) {
        return false;
    }
    for (const std::string& entry : entries) {
        if (entry.empty() || entry.size() > kMaximumSsidLength) {
            error = "the wireless network name \"" + Printable(entry) + "\" must have 1 to " +
                    std::to_string(kMaximumSsidLength) + " bytes";
            return false;
        }
        if (HasControlCharacter(entry)) {
            error = "a wireless network name contains a control character";
            return false;
        }
    }
    changes.wirelessNetworks = std::move(entries);
    return true;
}

// An empty "Name=" line: optional settings go back to their absent state; required ones refuse.
bool ClearSetting(const SettingFieldInfo& info, SettingsChanges& changes, std::string& error) {
    switch (info.field) {
        case SettingField::HostName:
            changes.hostName = std::string();
            return true;
        case SettingField::LocalFilter:
            changes.localFilter = false;
            return true;
        case SettingField::WirelessFilter:
            changes.wirelessFilter = false;
            return true;
        case SettingField::LocalNetworks:
            changes.localNetworks = std::vector<std::string>();
            return true;
        case SettingField::WirelessNetworks:
            changes.wirelessNetworks = std::vector<std::string>();
            return true;
        case SettingField::IPv6:
            changes.ipv6 = false;
            return true;
        default:
            error = std::string(info.name) +
                    " cannot be empty: it is required (leave the line out to keep the stored "
                    "value)";
            return false;
    }
}

bool AcceptEndpointLine(std::string_view name, std::string_view value, SettingsChanges& changes,
                        bool& known, std::string& error) {
    known = true;
    if (ToLowerAscii(name) == ToLowerAscii(kUpdateHostName)) {
        if (!CheckEndpointText(EndpointForm::HostAndPort, kUpdateHostName, value, error)) {
            return false;
        }
        changes.updateHost = std::string(value);
        return true;
    }
    const std::optional<Endpoint> endpoint = FindEndpoint(name);
    if (!endpoint) {
        known = false;
        return false;
    }
    if (!CheckEndpointValue(*endpoint, value, error)) {
        return false;
    }
    changes.endpoints[*endpoint] = std::string(value);
    return true;
}

}  // namespace

const std::vector<SettingFieldInfo>& SettingFields() {
    static const std::vector<SettingFieldInfo> fields = {
        {SettingField::UserName, "Username", "User name", false},
        {SettingField::Password, "Password", "Password", true},
        {SettingField::HostName, "Hostname", "Host name (several separated by commas)", false},
        {SettingField::Provider, "Provider",
         "Provider (0 DynDNS, 1 OpenDNS, 2 DNS-O-Matic, 3 spDNS, 4 STRATO, 5 No-IP)", false},
        {SettingField::Interval, "Interval", "Check interval in minutes", false},
        {SettingField::LocalFilter, "LocalFilter",
         "Update only on the listed local networks (yes/no)", false},
        {SettingField::LocalNetworks, "LocalNetworks",
         "Local networks: DHCP domains or gateway addresses, separated by commas", false},
        {SettingField::WirelessFilter, "WirelessFilter",
         "Update only on the listed wireless networks (yes/no)", false},
        {SettingField::WirelessNetworks, "WirelessNetworks",
         "Wireless networks: names (SSIDs), separated by commas", false},
        {SettingField::IPv6, "IPv6",
         "Also keep the host name's IPv6 address current (yes/no; not for OpenDNS and "
         "DNS-O-Matic)",
         false},
    };
    return fields;
}

const std::vector<std::string>& ProviderNames() {
    static const std::vector<std::string> names = {
        ProviderName(kProviderDynDns),    ProviderName(kProviderOpenDns),
        ProviderName(kProviderDnsOMatic), ProviderName(kProviderSpDns),
        ProviderName(kProviderStrato),    ProviderName(kProviderNoIp)};
    return names;
}

bool AcceptSettingValue(SettingField field, std::string_view value, SettingsChanges& changes,
                        std::string& error) {
    if (value.empty()) {
        return true;
    }
    switch (field) {
        case SettingField::UserName:
            if (!CheckText("the user name", value, error)) {
                return false;
            }
            changes.userName = std::string(value);
            return true;
        case SettingField::Password:
            if (!CheckText("the password", value, error)) {
                return false;
            }
            changes.password = std::string(value);
            return true;
        case SettingField::HostName: {
            if (value.size() > kMaximumSettingLineLength) {
                error = "the host name list is too long";
                return false;
            }
            const std::vector<std::string> names = SplitList(value);
            if (!CheckListSize("the host name list", names, error)) {
                return false;
            }
            std::string joined;
            for (const std::string& name : names) {
                if (!CheckHostName("the host name", name, error)) {
                    return false;
                }
                joined += (joined.empty() ? "" : ",") + name;
            }
            changes.hostName = joined;
            return true;
        }
        case SettingField::Provider:
            return AcceptProvider(value, changes, error);
        case SettingField::Interval:
            return AcceptInterval(value, changes, error);
        case SettingField::LocalFilter: {
            bool flag = false;
            if (!ParseFlag("the local filter", value, flag, error)) {
                return false;
            }
            changes.localFilter = flag;
            return true;
        }
        case SettingField::WirelessFilter: {
            bool flag = false;
            if (!ParseFlag("the wireless filter", value, flag, error)) {
                return false;
            }
            changes.wirelessFilter = flag;
            return true;
        }
        case SettingField::LocalNetworks:
            return AcceptLocalNetworks(value, changes, error);
        case SettingField::WirelessNetworks:
            return AcceptWirelessNetworks(value, changes, error);
        case SettingField::IPv6: {
            bool flag = false;
            if (!ParseFlag("IPv6", value, flag, error)) {
                return false;
            }
            changes.ipv6 = flag;
            return true;
        }
    }
    return false;
}

bool AcceptSettingLine(std::string_view line, SettingsChanges& changes, std::string& error) {
    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() == '#') {
        return true;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        error = "\"" + Printable(trimmed) + "\" is not of the form Name=Value";
        return false;
    }
    const std::string_view givenName = TrimBlanks(line.substr(0, equals));
    const std::string name = ToLowerAscii(givenName);
    std::string_view value = line.substr(equals + 1);
    for (const SettingFieldInfo& info : SettingFields()) {
        if (ToLowerAscii(info.name) == name ||
            (info.field == SettingField::Provider && name == "service")) {
            if (!info.secret) {
                value = TrimBlanks(value);
            }
            if (value.empty()) {
                return ClearSetting(info, changes, error);
            }
            return AcceptSettingValue(info.field, value, changes, error);
        }
    }
    if (name == ToLowerAscii(kHookUserName)) {
        // Whether the account exists and may run hooks is the command's to check.
        const std::string_view user = TrimBlanks(value);
        if (HasControlCharacter(user) || user.find_first_of(" /:") != std::string_view::npos) {
            error = "\"" + Printable(user) + "\" is no account name";
            return false;
        }
        changes.hookUser = std::string(user);
        return true;
    }
    bool known = false;
    const bool accepted = AcceptEndpointLine(givenName, TrimBlanks(value), changes, known, error);
    if (known) {
        return accepted;
    }
    error = "unknown setting \"" + Printable(givenName) + "\"; known are: ";
    for (const SettingFieldInfo& info : SettingFields()) {
        error += std::string(info.name) + ", ";
    }
    error += std::string(kUpdateHostName) + ", " + kHookUserName + " and the endpoints";
    for (const Endpoint endpoint : AllEndpoints()) {
        error += " " + std::string(EndpointValueName(endpoint));
    }
    return false;
}

}  // namespace quarnel
