#include "ui/settings_form.h"

#include <iterator>
#include <utility>

#include "ddns/provider_update.h"
#include "libraries/src/adapter/wlan_identifier.h"
#include "network/network_filter.h"
#include "platform/accounts.h"
#include "platform/clock.h"
#include "platform/global_handles.h"
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
// The site the about text's links open: the makers' project page.
constexpr const char* kProjectSite = "quarnel-updater.example";
constexpr const char* kBuildDate = "2013-04-19";

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
    // The stored time holds the local fields already: formatted as it is, with a two-digit year.
    return GetLocalizedText(113, FormatClock("%yy-%mm-%dd %hh:%ii:%ss", time));
}

std::string LastResultLine(std::int64_t time, std::string_view result) {
    return GetLocalizedText(114, time == 0 ? LoadResourceText(116) : ShownResult(result));
}

NetworkTabEnabling EnablingOfNetworkTab(NetworkTabEvent event, bool filter, bool fieldHasText,
                                        bool entrySelected) {
    const bool content = event == NetworkTabEvent::ContentChanged;
    return {filter, filter, content && filter && fieldHasText, content && filter && entrySelected};
}

SettingsWindowSetup ReadSettingsWindowSetup() {
    SettingsWindowSetup setup;
    setup.wirelessTab = globalHandles.nl80211Usable;
    setup.currentNetwork = GetNetwork();
    if (setup.wirelessTab) {
        setup.currentWireless = GetGatewayWLANIdentifier();
    }
    setup.status = ReadServiceResult();
    return setup;
}

std::vector<AboutPiece> AboutTextPieces() {
    const std::string about = LoadResourceText(121);
    const std::string maker = LoadResourceText(101);
    const std::string url = std::string("https://") + kProjectSite + "/";
    // The maker's name where it first occurs, the site's name where it last occurs (the credit).
    const std::size_t makerAt = maker.empty() ? std::string::npos : about.find(maker);
    std::size_t siteAt = about.rfind(kProjectSite);
    if (makerAt != std::string::npos && siteAt != std::string::npos &&
        siteAt < makerAt + maker.size()) {
        siteAt = std::string::npos;
    }
    std::vector<AboutPiece> pieces;
    std::size_t at = 0;
    const auto link = [&](std::size_t start, std::size_t length) {
        if (start == std::string::npos) {
            return;
        }
        pieces.push_back({about.substr(at, start - at), ""});
        pieces.push_back({about.substr(start, length), url});
        at = start + length;
    };
    link(makerAt, maker.size());
    link(siteAt, std::string_view(kProjectSite).size());
    pieces.push_back({about.substr(at), ""});
    std::erase_if(pieces, [](const AboutPiece& piece) { return piece.text.empty(); });
    return pieces;
}

std::string BuildLine() {
#if defined(__clang__)
    const std::string toolchain = "clang" + std::to_string(__clang_major__);
#elif defined(__GNUC__)
    const std::string toolchain = "gcc" + std::to_string(__GNUC__);
#else
    const std::string toolchain = "cxx";
#endif
    return "Build " + std::to_string(CurrentBuild) + " " + kBuildDate + " " + toolchain + " x64";
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
