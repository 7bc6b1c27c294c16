#pragma once

// Overriding an endpoint from the outside ("/configure", the tests): which text each endpoint
// accepts, and storing or removing an override so that the service uses it from its next cycle.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/endpoints.h"

namespace quarnel {

enum class EndpointForm {
    HostAndPort,   // a host name, IPv4 address or bracketed IPv6 address, with an optional ":port"
    HostName,      // a host name only: a name that is looked up or sent as it is
    ResolverList,  // IPv4 addresses, each with an optional ":port", joined by ","
};

// Every endpoint in the order of the documented table.
const std::vector<Endpoint>& AllEndpoints();
EndpointForm EndpointValueForm(Endpoint endpoint);
// The update host endpoint of a provider number (0 DynDNS ... 5 No-IP); nothing outside 0 to 5.
std::optional<Endpoint> ProviderUpdateEndpoint(std::int64_t provider);
// The endpoint whose value name this is, compared regardless of letter case.
std::optional<Endpoint> FindEndpoint(std::string_view valueName);

// True when value is a text the endpoint can use; otherwise error says why (naming the endpoint
// and showing the value with control characters escaped). The empty text is accepted: it stands
// for "no override".
bool CheckEndpointValue(Endpoint endpoint, std::string_view value, std::string& error);

// The same check for a text of the given form; label names it in the error.
bool CheckEndpointText(EndpointForm form, std::string_view label, std::string_view value,
                       std::string& error);

// The override stored now, without surrounding blanks; empty when there is none.
std::string ReadEndpointOverride(Endpoint endpoint);

// Checks the value and stores it as the override; the empty text removes the override, so the
// built-in default applies again. True only when the store reads back as asked; nothing is
// written for a value that fails the check.
bool StoreEndpointOverride(Endpoint endpoint, std::string_view value, std::string& error);

}  // namespace quarnel
