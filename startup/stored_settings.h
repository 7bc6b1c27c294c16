#pragma once

// The settings as they are stored now, in the form the apply step takes, and their display.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/apply.h"

namespace quarnel {

// Every stored setting (the password deciphered with this machine's key, the beta choice, the
// tray autostart state of this program); a missing interval reads as 5 minutes.
SettingsValues ReadStoredSettings();

// A provider's name by position, or the number when it is out of range.
std::string ProviderDisplayName(std::int64_t index);
// A list for display: entries separated by ", ", or "(none)".
std::string ListDisplay(const std::optional<std::vector<std::string>>& entries);

}  // namespace quarnel
