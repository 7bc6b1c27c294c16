#pragma once

// What the settings window shows and what its OK stores, decided without Qt, so that the rules
// (interval entries, provider and autostart choices, list entries, the read-back check) are
// tested without a display and the window only mirrors them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/apply.h"
#include "ui/result_notice.h"

namespace quarnel {

// The six interval entries, in minutes, in the order the drop-down list shows them.
inline constexpr std::int64_t kIntervalChoices[] = {5, 10, 15, 30, 60, 120};
// The interval the service uses while none is stored (a fresh store).
inline constexpr std::int64_t kServiceDefaultInterval = 5;
// The provider entries: text ids by position (the stored Service value).
inline constexpr int kProviderTextIds[] = {147, 148, 149, 162, 163, 164};
// The autostart entries: text ids and the autostart modes they stand for.
inline constexpr int kAutostartTextIds[] = {118, 119, 120};
inline constexpr int kAutostartModes[] = {kAutostartAllUsers, kAutostartThisUser, kAutostartOff};
// The longest network entry the lists take, in characters.
inline constexpr std::size_t kMaximumNetworkEntry = 32;

// The window's controls as values; an index of -1 means that no entry is selected.
struct SettingsForm {
    std::string userName;
    std::string password;
    std::string hostName;
    std::vector<std::int64_t> intervals;  // the entries of the interval list
    int intervalIndex = -1;
    int providerIndex = -1;
    int autostartIndex = 2;
    bool localFilter = false;
    bool wirelessFilter = false;
    std::vector<std::string> localNetworks;
    std::vector<std::string> wirelessNetworks;
    bool ipv6 = false;
    bool beta = false;
};

// The IPv6 check box's text id for a provider entry: the plain choice where the provider takes
// an IPv6 address, else the text that says it takes IPv4 only (the box is then disabled and its
// state kept as stored).
int IPv6ChoiceTextId(int providerIndex);

// The interval entries for a stored value: the six, and the stored value's absolute value as a
// seventh when it is none of them and not 0. selected is the entry of the stored value; for 0
// (none stored) the entry of the interval the service uses then.
std::vector<std::int64_t> IntervalEntries(std::int64_t stored, int& selected);
// The autostart entry for a GetAutostart state: all users, else this user, else disabled.
int AutostartEntry(std::int64_t state);
// The provider entry of a stored Service value, or -1 outside the six.
int ProviderEntry(std::int64_t stored);

// Everything the store holds, as the window shows it at opening.
SettingsForm ReadSettingsForm(std::int64_t autostartState);

// A text typed into a network field as the list takes it: its first 32 characters (UTF-8 code
// points, so that a character is never cut in half).
std::string CutNetworkEntry(std::string_view text);

// The values OK hands to ApplySettings; without the wireless tab its filter is off and its list
// absent.
SettingsValues ValuesOfForm(const SettingsForm& form, bool wirelessTab);

// The two status lines for the service's last attempt, its time and its answer (ReadServiceResult;
// Never and Nothing while there is none).
std::string LastUpdateLine(std::int64_t time);
std::string LastResultLine(std::int64_t time, std::string_view result);

// The enabling of a network tab's controls after an event: the field and the list follow the
// filter check box; Insert needs text in the field and Remove a selected entry, but only a change
// of the field or the list enables them: at the start and when the box is ticked they stay
// disabled (the field then holds the current network, not something the user typed). Unticking
// the filter also clears the field and the selection (the view does that, then asks again).
enum class NetworkTabEvent { Start, FilterChanged, ContentChanged };
struct NetworkTabEnabling {
    bool field = false;
    bool list = false;
    bool insert = false;
    bool remove = false;
};
NetworkTabEnabling EnablingOfNetworkTab(NetworkTabEvent event, bool filter, bool fieldHasText,
                                        bool entrySelected);

// What the window shows besides the stored settings.
struct SettingsWindowSetup {
    bool wirelessTab = false;     // the wireless functions are usable
    std::string currentNetwork;   // GetNetwork
    std::string currentWireless;  // GetGatewayWLANIdentifier
    ServiceResult status;         // the service's last attempt at opening
};
SettingsWindowSetup ReadSettingsWindowSetup();

// The about text in pieces: plain text, and the words that are links (the maker's name and its
// site) with the address each opens. Joined, the texts are text 121.
struct AboutPiece {
    std::string text;
    std::string url;  // empty for plain text
};
std::vector<AboutPiece> AboutTextPieces();
// The about tab's build line: "Build 294 2013-04-19 <toolchain> x64".
std::string BuildLine();

// Applies the values and reads the store back: the names of the values that do not read back as
// written (an empty text or list keeps the value that was stored before); empty when all did.
std::vector<std::string> StoreSettings(const SettingsValues& values,
                                       const ApplyOperations& operations);
// What the window tells the user about those values: the fields of the window they belong to.
std::string NotStoredMessage(const std::vector<std::string>& valueNames);

}  // namespace quarnel
