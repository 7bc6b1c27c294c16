#pragma once

// Every key and value the program stores, and the clock of its time stamps.
//
// HKEY_LOCAL_MACHINE
//   SOFTWARE\Quarnel Updater            SoftwareBuild, SoftwareBeta (product bookkeeping)
//   SOFTWARE\Quarnel Updater\Settings   the user's settings, Time written last
//   SOFTWARE\Quarnel Updater\Service    the outcome of the last update, EventID written last
// HKEY_CLASSES_ROOT
//   CLSID\{B7D5E900-AF40-11DD-AD8B-0800200C9A00}   SecurityIdentifier (the installing user)

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/guid.h"
#include "platform/registry_store.h"

namespace quarnel {

// The build that writes the store in its current layout.
inline constexpr std::int64_t CurrentBuild = 294;

inline constexpr std::string_view kProductKey = "SOFTWARE\\Quarnel Updater";
inline constexpr std::string_view kSettingsKey = "SOFTWARE\\Quarnel Updater\\Settings";
inline constexpr std::string_view kServiceKey = "SOFTWARE\\Quarnel Updater\\Service";

// Product key.
inline constexpr std::string_view kValueSoftwareBuild = "SoftwareBuild";  // REG_DWORD
inline constexpr std::string_view kValueSoftwareBeta = "SoftwareBeta";    // REG_DWORD, 0 or 1

// Settings key.
inline constexpr std::string_view kValueUsername = "Username";        // REG_SZ
inline constexpr std::string_view kValuePassword = "Password";        // REG_BINARY, protected
inline constexpr std::string_view kValueHostname = "Hostname";        // REG_SZ
inline constexpr std::string_view kValueInterval = "Interval";        // REG_DWORD, minutes
inline constexpr std::string_view kValueService = "Service";          // REG_DWORD, provider index
inline constexpr std::string_view kValueLocalFilter = "LocalFilter";  // REG_DWORD
inline constexpr std::string_view kValueLocalNetworks = "LocalNetworks";        // REG_MULTI_SZ
inline constexpr std::string_view kValueWirelessFilter = "WirelessFilter";      // REG_DWORD
inline constexpr std::string_view kValueWirelessNetworks = "WirelessNetworks";  // REG_MULTI_SZ
inline constexpr std::string_view kValueTime = "Time";  // REG_DWORD, settings and service key
// REG_DWORD: 1 also keeps the host name's IPv6 address current; 0 or absent (the default) not.
// Written only once it was turned on, so a store that never had it is as it always was.
inline constexpr std::string_view kValueIPv6 = "IPv6";

// Service key (besides Time).
inline constexpr std::string_view kValueLimit = "Limit";    // REG_DWORD, 0 or 1
inline constexpr std::string_view kValueResult = "Result";  // REG_SZ
inline constexpr std::string_view kValueIp = "IP";          // REG_SZ
// REG_SZ, written after IP: the IPv6 address the last recorded request carried; absent when it
// carried none (IPv6 off, a provider that takes IPv4 only, or no IPv6 address found).
inline constexpr std::string_view kValueIp6 = "IP6";
inline constexpr std::string_view kValueEventType = "EventType";  // REG_DWORD
inline constexpr std::string_view kValueEventId = "EventID";      // REG_DWORD
// Time, IP and Result describe the last request the provider answered; these two describe the
// last attempt, whatever came of it. A store of an older build has neither.
inline constexpr std::string_view kValueAttemptTime = "AttemptTime";      // REG_DWORD, Time unit
inline constexpr std::string_view kValueAttemptResult = "AttemptResult";  // REG_SZ
// AttemptResult of an attempt that got no answer at all.
inline constexpr std::string_view kNoAnswerMarker = "!noanswer";

// Settings key, written by /configure alone (the apply step leaves it): the account that the
// outcome hooks run as; absent for the program's system user.
inline constexpr std::string_view kValueHookUser = "HookUser";  // REG_SZ

// Values that older builds kept in the product key; only the migration reads and removes them
// (besides the settings names above, which those builds also kept there).
inline constexpr std::string_view kLegacyBeta = "Beta";                // REG_DWORD
inline constexpr std::string_view kLegacyFilter = "Filter";            // REG_DWORD
inline constexpr std::string_view kLegacyNetworks = "Networks";        // REG_MULTI_SZ
inline constexpr std::string_view kLegacyForceUpdate = "ForceUpdate";  // any type

// The client identity: key below HKEY_CLASSES_ROOT and its REG_SZ value.
inline constexpr Guid kClientIdentityGuid{
    0xB7D5E900, 0xAF40, 0x11DD, {0xAD, 0x8B, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x00}};
// "CLSID\{B7D5E900-AF40-11DD-AD8B-0800200C9A00}"
std::string ClientIdentityKey();
inline constexpr std::string_view kValueSecurityIdentifier = "SecurityIdentifier";

// Time stamps: the program's clock (local wall-clock fields counted as if they were UTC) in
// seconds, stored as a REG_DWORD and read back as an unsigned 32-bit number (good until 2106).
std::int64_t CurrentTimeStamp();
// How far ahead of the clock a settings stamp may run: settings applied again within the same
// second get the next second, so several quick applies carry stamps a little ahead. Further ahead
// is a clock fault.
inline constexpr std::int64_t kSettingsStampLeadSeconds = 60;
int WriteTimeStamp(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                   std::int64_t seconds);
std::int64_t ReadTimeStamp(RegistryHive hive, std::string_view keyPath, std::string_view valueName);

}  // namespace quarnel
