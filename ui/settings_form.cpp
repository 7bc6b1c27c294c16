#include "ui/settings_form.h"

#include <cstdio>
#include <ctime>
#include <iterator>
#include <utility>

#include "ddns/provider_update.h"
#include "platform/accounts.h"
#include "platform/text.h"
#include "resources/texts.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "ui/desktop_texts.h"
#include "ui/result_notice.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;

// The non-empty pieces of a stored list; the line feed after the last entry gives none.
std::vector<std::string> StoredList(std::string_view valueName) {
    std::vector<std::string> entries =
        SplitText(ReadRegistryMultiString(kMachine, kSettingsKey, valueName), '\n');
    std::erase(entries, std::string());
    return entries;
}

// The stored values OK writes, read raw (no defaults), for the read-back check.
struct StoredRaw {
    std::string userName, password, hostName;
    std::uint32_t interval = 0, service = 0, localFilter = 0, wirelessFilter = 0, ipv6 = 0,
                  beta = 0;
    std::vector<std::string> localNetworks, wirelessNetworks;
};

std::uint32_t Dword(std::string_view key, std::string_view name) {
    return static_cast<std::uint32_t>(ReadRegistryDword(kMachine, key, name));
}

StoredRaw ReadRaw() {
    StoredRaw raw;
    raw.userName = ReadRegistryString(kMachine, kSettingsKey, kValueUsername);
    raw.password =
        ReadProtectedPassword(kMachine, kSettingsKey, kValuePassword, GetHardwareProfileId());
    raw.hostName = ReadRegistryString(kMachine, kSettingsKey, kValueHostname);
    raw.interval = Dword(kSettingsKey, kValueInterval);
    raw.service = Dword(kSettingsKey, kValueService);
    raw.localFilter = Dword(kSettingsKey, kValueLocalFilter);
    raw.wirelessFilter = Dword(kSettingsKey, kValueWirelessFilter);
    raw.localNetworks = StoredList(kValueLocalNetworks);
    raw.wirelessNetworks = StoredList(kValueWirelessNetworks);
    raw.ipv6 = Dword(kSettingsKey, kValueIPv6);
    raw.beta = Dword(kProductKey, kValueSoftwareBeta);
    return raw;
}

template <typename Value>
const Value& KeptWhenEmpty(const Value& written, const Value& before) {
    return written.empty() ? before : written;
}

}  // namespace

std::vector<std::int64_t> IntervalEntries(std::int64_t stored, int& selected) {
    std::vector<std::int64_t> entries(std::begin(kIntervalChoices), std::end(kIntervalChoices));
    const std::int64_t storedMinutes = stored < 0 ? -stored : stored;
    const std::int64_t minutes = storedMinutes == 0 ? kServiceDefaultInterval : storedMinutes;
    selected = -1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] == minutes) {
            selected = static_cast<int>(i);
            return entries;
        }
    }
    entries.push_back(minutes);
    selected = static_cast<int>(entries.size() - 1);
    return entries;
}

int AutostartEntry(std::int64_t state) {
    if ((state & kAutostartAllUsers) != 0) {
        return 0;
    }
    return (state & kAutostartThisUser) != 0 ? 1 : 2;
}

int ProviderEntry(std::int64_t stored) {
    return stored >= 0 && stored < static_cast<std::int64_t>(std::size(kProviderTextIds))
               ? static_cast<int>(stored)
               : -1;
}

SettingsForm ReadSettingsForm(std::int64_t autostartState) {
    const StoredRaw raw = ReadRaw();
    SettingsForm form;
    form.userName = raw.userName;
    form.password = raw.password;
    form.hostName = raw.hostName;
    // A DWORD is 32 bits; -15 is stored as its two's complement.
    form.intervals = IntervalEntries(static_cast<std::int32_t>(raw.interval), form.intervalIndex);
    form.providerIndex = ProviderEntry(static_cast<std::int32_t>(raw.service));
    form.autostartIndex = AutostartEntry(autostartState);
    form.localFilter = raw.localFilter != 0;
    form.wirelessFilter = raw.wirelessFilter != 0;
    form.localNetworks = raw.localNetworks;
    form.wirelessNetworks = raw.wirelessNetworks;
    form.ipv6 = raw.ipv6 != 0;
    form.beta = raw.beta != 0;
    return form;
}

int IPv6ChoiceTextId(int providerIndex) {
    return providerIndex < 0 || ProviderTakesIPv6(providerIndex) ? 166 : 167;
}

std::string CutNetworkEntry(std::string_view text) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (startsCharacter && characters++ == kMaximumNetworkEntry) {
            return std::string(text.substr(0, i));
        }
    }
    return std::string(text);
}

SettingsValues ValuesOfForm(const SettingsForm& form, bool wirelessTab) {
    SettingsValues values;
    values.userName = form.userName;
    values.password = form.password;
    values.hostName = form.hostName;
    const bool intervalChosen =
        form.intervalIndex >= 0 && form.intervalIndex < static_cast<int>(form.intervals.size());
    values.intervalMinutes =
        intervalChosen ? form.intervals[static_cast<std::size_t>(form.intervalIndex)] : 0;
    values.providerIndex = form.providerIndex;
    values.localFilter = form.localFilter;
    values.localNetworks = form.localNetworks;
    if (wirelessTab) {
        values.wirelessFilter = form.wirelessFilter;
        values.wirelessNetworks = form.wirelessNetworks;
    }
    values.ipv6 = form.ipv6;
    values.beta = form.beta;
    const bool autostartChosen = form.autostartIndex >= 0 &&
                                 form.autostartIndex < static_cast<int>(std::size(kAutostartModes));
    values.autostartMode = autostartChosen ? kAutostartModes[form.autostartIndex] : kAutostartOff;
    return values;
}

std::string LastUpdateLine(std::int64_t time) {
    if (time == 0) {
        return GetLocalizedText(113, LoadResourceText(115));
    }
    const std::time_t seconds = static_cast<std::time_t>(time);
    std::tm local{};
    char text[32] = "";
    if (::localtime_r(&seconds, &local) != nullptr) {
        // Two-digit year, as the line always showed it.
        std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", local.tm_year % 100,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    }
    return GetLocalizedText(113, text);
}

std::string LastResultLine(std::int64_t time, std::string_view result) {
    return GetLocalizedText(114, time == 0 ? LoadResourceText(116) : ShownResult(result));
}

std::vector<std::string> StoreSettings(const SettingsValues& values,
                                       const ApplyOperations& operations) {
    const StoredRaw before = ReadRaw();
    const std::int64_t start = CurrentTimeStamp();
    ApplySettings(values, operations);
    const StoredRaw after = ReadRaw();

    std::vector<std::string> failed;
    const auto check = [&failed](bool same, const char* name) {
        if (!same) {
            failed.emplace_back(name);
        }
    };
    const std::vector<std::string> none;
    check(after.beta == (values.beta ? 1U : 0U), "SoftwareBeta");
    check(after.userName == KeptWhenEmpty(values.userName, before.userName), "Username");
    check(after.password == KeptWhenEmpty(values.password, before.password), "Password");
    check(after.hostName == KeptWhenEmpty(values.hostName, before.hostName), "Hostname");
    check(after.interval == static_cast<std::uint32_t>(values.intervalMinutes), "Interval");
    check(after.service == static_cast<std::uint32_t>(values.providerIndex), "Service");
    check(after.localFilter == (values.localFilter ? 1U : 0U), "LocalFilter");
    check(after.wirelessFilter == (values.wirelessFilter ? 1U : 0U), "WirelessFilter");
    check(after.ipv6 == (values.ipv6 ? 1U : 0U), "IPv6");
    check(after.localNetworks ==
              KeptWhenEmpty(values.localNetworks.value_or(none), before.localNetworks),
          "LocalNetworks");
    check(after.wirelessNetworks ==
              KeptWhenEmpty(values.wirelessNetworks.value_or(none), before.wirelessNetworks),
          "WirelessNetworks");
    check(ReadTimeStamp(kMachine, kSettingsKey, kValueTime) >= start, "Time");
    return failed;
}

std::string NotStoredMessage(const std::vector<std::string>& valueNames) {
    // The label of each value's control; the change time has none.
    const std::pair<std::string_view, int> labels[] = {
        {kValueUsername, 102},      {kValueHostname, 104},       {kValuePassword, 103},
        {kValueInterval, 108},      {kValueService, 109},        {kValueLocalFilter, 160},
        {kValueLocalNetworks, 159}, {kValueWirelessFilter, 132}, {kValueWirelessNetworks, 129},
        {kValueSoftwareBeta, 161}};
    std::string fields;
    for (const std::string& name : valueNames) {
        std::string field = name == kValueTime ? GetDesktopText(DesktopText::ChangeTime) : name;
        for (const auto& [value, textId] : labels) {
            if (name == value) {
                field = LoadResourceText(textId);
            }
        }
        fields += (fields.empty() ? "" : ", ") + field;
    }
    return GetDesktopText(DesktopText::NotStored, fields);
}

}  // namespace quarnel
