#pragma once

// The dynamic-DNS update request: which provider is asked and how the request is formed.

#include <cstdint>
#include <string>
#include <string_view>

namespace quarnel {

// Provider numbers as the settings store them (the settings window's list order).
inline constexpr std::int64_t kProviderDynDns = 0;
inline constexpr std::int64_t kProviderOpenDns = 1;
inline constexpr std::int64_t kProviderDnsOMatic = 2;
inline constexpr std::int64_t kProviderSpDns = 3;
inline constexpr std::int64_t kProviderStrato = 4;
inline constexpr std::int64_t kProviderNoIp = 5;

// The provider's name ("DynDNS", ..., "No-IP"); its number as text when it is out of range.
std::string ProviderName(std::int64_t service);

// Whether a provider's update request takes an IPv6 address beside the IPv4 one ("myip=<IPv4>,
// <IPv6>"): DynDNS, spDNS, STRATO and No-IP do; OpenDNS and DNS-O-Matic document IPv4 only.
bool ProviderTakesIPv6(std::int64_t service);

// "https://<update host>/nic/update?hostname=<host names>&myip=<address>" for a provider, the
// empty text for a number outside 0 to 5. DNS-O-Matic with no host name updates all hosts of the
// account through its pseudo host name. Host names and address are percent-encoded except for
// letters, digits, "-", ".", "_", "~" and ",", so a list of names stays one list and no
// character can change the query's meaning; the address keeps ":" as well, as the providers
// document the IPv6 form ("myip=203.0.113.5,2001:db8::5").
std::string BuildUpdateUrl(std::int64_t service, std::string_view hostname,
                           std::string_view address);

// Removes line feeds at both ends, then carriage returns at both ends; inner line breaks stay.
std::string TrimUpdateAnswer(std::string_view answer);

// Sends the update for the stored account, password, host name and provider with this address
// and returns the provider's trimmed answer; the empty text when nothing came back or the
// provider is unknown. Callers log.
std::string SendUpdateRequest(std::string_view address);

}  // namespace quarnel
