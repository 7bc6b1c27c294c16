#pragma once

// What "/configure" accepts: the settings a user may give, their names in "Name=Value" input,
// their prompts on a terminal, and the checks each value must pass before anything is stored.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/endpoints.h"

namespace quarnel {

// The longest input line accepted; longer lines are refused as a whole.
inline constexpr std::size_t kMaximumSettingLineLength = 4096;

enum class SettingField {
    UserName,
    Password,
    HostName,
    Provider,
    Interval,
    LocalFilter,
    LocalNetworks,
    WirelessFilter,
    WirelessNetworks,
    IPv6,
};

struct SettingFieldInfo {
    SettingField field;
    const char* name;    // as in "Name=Value" input (matched case-insensitively)
    const char* prompt;  // asked on a terminal
    bool secret;         // typed without echo
};

// Every field, in the order a terminal asks for them.
const std::vector<SettingFieldInfo>& SettingFields();

// Values given by the user; a field not given keeps what is stored.
struct SettingsChanges {
    std::optional<std::string> userName;
    std::optional<std::string> password;
    std::optional<std::string> hostName;  // empty: cleared (only DNS-O-Matic does without one)
    std::optional<std::int64_t> providerIndex;
    std::optional<std::int64_t> intervalMinutes;
    std::optional<bool> localFilter;
    std::optional<std::vector<std::string>> localNetworks;
    std::optional<bool> wirelessFilter;
    std::optional<std::vector<std::string>> wirelessNetworks;
    std::optional<bool> ipv6;
    // Endpoint overrides given by their value names; the empty text removes an override.
    std::map<Endpoint, std::string> endpoints;
    // "UpdateHost": the override of the chosen provider's update host (the provider given in the
    // same input, else the stored one); the empty text removes it.
    std::optional<std::string> updateHost;
    // "HookUser": the account the outcome hooks run as; the empty text: the system user.
    std::optional<std::string> hookUser;
};

// The name of the update host of the chosen provider in "Name=Value" input.
inline constexpr const char* kUpdateHostName = "UpdateHost";
inline constexpr const char* kHookUserName = "HookUser";

// Checks one value typed on a terminal and records it. An empty value changes nothing (Enter
// keeps the stored value). On bad input returns false and error names the problem.
bool AcceptSettingValue(SettingField field, std::string_view value, SettingsChanges& changes,
                        std::string& error);

// One "Name=Value" line: a setting or an endpoint. Blank lines and lines starting with '#' are
// ignored. Blanks around the name, and around values other than the password, are ignored. An
// empty value clears an optional setting (the network lists and filters, the host name) or
// removes an endpoint override; for a required setting it is an error.
bool AcceptSettingLine(std::string_view line, SettingsChanges& changes, std::string& error);

// The providers by position, for prompts and for showing the stored choice.
const std::vector<std::string>& ProviderNames();

}  // namespace quarnel
