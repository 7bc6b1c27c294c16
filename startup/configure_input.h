#pragma once

// What "/configure" accepts: the settings a user may give, their names in "Name=Value" input,
// their prompts on a terminal, and the checks each value must pass before anything is stored.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
};

struct SettingFieldInfo {
    SettingField field;
    const char* name;    // as in "Name=Value" input (matched case-insensitively)
    const char* prompt;  // asked on a terminal
    bool secret;         // typed without echo
};

// Every field, in the order a terminal asks for them.
const std::vector<SettingFieldInfo>& SettingFields();

// Values given by the user; a field left empty keeps what is stored.
struct SettingsChanges {
    std::optional<std::string> userName;
    std::optional<std::string> password;
    std::optional<std::string> hostName;
    std::optional<std::int64_t> providerIndex;
    std::optional<std::int64_t> intervalMinutes;
    std::optional<bool> localFilter;
    std::optional<std::vector<std::string>> localNetworks;
    std::optional<bool> wirelessFilter;
    std::optional<std::vector<std::string>> wirelessNetworks;
};

// Checks one value and records it. An empty value changes nothing. On bad input returns false
// and error names the problem.
bool AcceptSettingValue(SettingField field, std::string_view value, SettingsChanges& changes,
                        std::string& error);

// One "Name=Value" line. Blank lines and lines starting with '#' are ignored. Blanks around the
// name, and around values other than the password, are ignored.
bool AcceptSettingLine(std::string_view line, SettingsChanges& changes, std::string& error);

// The providers by position, for prompts and for showing the stored choice.
const std::vector<std::string>& ProviderNames();

}  // namespace quarnel
