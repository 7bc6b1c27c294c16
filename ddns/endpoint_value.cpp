#include "ddns/endpoint_value.h"

#include <cstddef>
#include <iterator>

#include "ddns/ip_address.h"
#include "ddns/port_text.h"
#include "platform/text.h"
#include "platform/visible_text.h"
#include "settings/registry.h"

namespace quarnel {
namespace {

constexpr std::size_t kMaximumHostNameLength = 253;
constexpr std::size_t kMaximumLabelLength = 63;
constexpr std::size_t kMaximumResolvers = 3;  // the resolver uses no more than three

// The text as a message can show it: quoted, at most 60 bytes, control characters as \xNN.
std::string Shown(std::string_view text) {
    return "\"" + VisibleText(text.substr(0, 60)) + (text.size() > 60 ? "...\"" : "\"");
}

bool IsDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Letters, digits and hyphens in dot-separated labels of 1 to 63 characters that neither start
// nor end with a hyphen; at most 253 characters. A name made of numbers only must be a canonical
// IPv4 address when ipAllowed, and is refused otherwise.
bool CheckHost(std::string_view host, bool ipAllowed, std::string& problem) {
    if (host.empty()) {
        problem = "has no host";
        return false;
    }
    if (host.size() > kMaximumHostNameLength) {
        problem = "is longer than 253 characters";
        return false;
    }
    bool numeric = true;
    for (const std::string& label : SplitText(host, '.')) {
        if (label.empty() || label.size() > kMaximumLabelLength) {
            problem = "has an empty or over-long part";
            return false;
        }
        for (const char c : label) {
            const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                 (c >= '0' && c <= '9') || c == '-';
            if (!allowed) {
                problem = "contains a character other than letters, digits, hyphens and dots";
                return false;
            }
        }
        if (label.front() == '-' || label.back() == '-') {
            problem = "has a part that starts or ends with a hyphen";
            return false;
        }
        numeric = numeric && IsDigits(label);
    }
    if (numeric && !(ipAllowed && IsValidIPAddress(host))) {
        problem = ipAllowed ? "is neither a host name nor an IPv4 address like 192.0.2.1"
                            : "is an address, not a host name";
        return false;
    }
    return true;
}

// "host" or "host:port"; the host may be an IPv6 address in brackets.
bool CheckHostAndPort(std::string_view value, std::string& problem) {
    const std::size_t close = value.starts_with('[') ? value.find(']') : std::string_view::npos;
    const std::size_t colon = value.rfind(':');
    const bool hasPort =
        colon != std::string_view::npos && (close == std::string_view::npos || colon > close);
    if (hasPort && !ReadPortText(value.substr(colon + 1))) {
        problem = "has a port that is not a number from 1 to 65535";
        return false;
    }
    if (value.starts_with('[')) {
        if (close == std::string_view::npos || close + 1 != (hasPort ? colon : value.size()) ||
            !IsValidIPv6Address(value.substr(1, close - 1))) {
            problem = "has no IPv6 address in the form [2001:db8::1] within its brackets";
            return false;
        }
        return true;
    }
    return CheckHost(value.substr(0, hasPort ? colon : value.size()), true, problem);
}

bool CheckResolverList(std::string_view value, std::string& problem) {
    const std::vector<std::string> entries = SplitText(value, ',');
    if (entries.size() > kMaximumResolvers) {
        problem = "names more than three resolvers";
        return false;
    }
    for (const std::string& entry : entries) {
        const std::size_t colon = entry.rfind(':');
        const std::string_view address = std::string_view(entry).substr(0, colon);
        if (!IsValidIPAddress(address)) {
            problem =
                "has an entry that is not an IPv4 address like 192.0.2.53 (" + Shown(entry) + ")";
            return false;
        }
        if (colon != std::string::npos && !ReadPortText(entry.substr(colon + 1))) {
            problem = "has a port that is not a number from 1 to 65535 (" + Shown(entry) + ")";
            return false;
        }
    }
    return true;
}

std::string Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

}  // namespace

const std::vector<Endpoint>& AllEndpoints() {
    static const std::vector<Endpoint> endpoints = {
        Endpoint::DynDnsUpdate,      Endpoint::OpenDnsUpdate,    Endpoint::DnsOMaticUpdate,
        Endpoint::SpDnsUpdate,       Endpoint::StratoUpdate,     Endpoint::NoIpUpdate,
        Endpoint::DnsOMaticAllHosts, Endpoint::IpEcho,           Endpoint::IpEchoHttp,
        Endpoint::IpEcho6,           Endpoint::OpenDnsResolvers, Endpoint::OpenDnsMyIp,
        Endpoint::ProbeHost,         Endpoint::Website,          Endpoint::IssueTracker,
        Endpoint::Resolvers,
    };
    return endpoints;
}

EndpointForm EndpointValueForm(Endpoint endpoint) {
    switch (endpoint) {
        case Endpoint::DnsOMaticAllHosts:
        case Endpoint::OpenDnsMyIp:
        case Endpoint::ProbeHost:
            return EndpointForm::HostName;
        case Endpoint::OpenDnsResolvers:
        case Endpoint::Resolvers:
            return EndpointForm::ResolverList;
        default:
            return EndpointForm::HostAndPort;
    }
}

std::optional<Endpoint> ProviderUpdateEndpoint(std::int64_t provider) {
    // In the order of the provider numbers.
    static constexpr Endpoint kUpdateHosts[] = {
        Endpoint::DynDnsUpdate, Endpoint::OpenDnsUpdate, Endpoint::DnsOMaticUpdate,
        Endpoint::SpDnsUpdate,  Endpoint::StratoUpdate,  Endpoint::NoIpUpdate,
    };
    if (provider < 0 || provider >= static_cast<std::int64_t>(std::size(kUpdateHosts))) {
        return std::nullopt;
    }
    return kUpdateHosts[provider];
}

std::optional<Endpoint> FindEndpoint(std::string_view valueName) {
    const std::string wanted = ToLowerAscii(valueName);
    for (const Endpoint endpoint : AllEndpoints()) {
        if (ToLowerAscii(EndpointValueName(endpoint)) == wanted) {
            return endpoint;
        }
    }
    return std::nullopt;
}

bool CheckEndpointText(EndpointForm form, std::string_view label, std::string_view value,
                       std::string& error) {
    if (value.empty()) {
        return true;
    }
    std::string problem;
    bool accepted = false;
    switch (form) {
        case EndpointForm::HostAndPort:
            accepted = CheckHostAndPort(value, problem);
            break;
        case EndpointForm::HostName:
            accepted = CheckHost(value, false, problem);
            break;
        case EndpointForm::ResolverList:
            accepted = CheckResolverList(value, problem);
            break;
    }
    if (!accepted) {
        error = "the endpoint " + std::string(label) + " " + Shown(value) + " " + problem;
    }
    return accepted;
}

bool CheckEndpointValue(Endpoint endpoint, std::string_view value, std::string& error) {
    return CheckEndpointText(EndpointValueForm(endpoint), EndpointValueName(endpoint), value,
                             error);
}

std::string ReadEndpointOverride(Endpoint endpoint) {
    return Trim(
        ReadRegistryString(RegistryHive::LocalMachine, kEndpointsKey, EndpointValueName(endpoint)));
}

bool StoreEndpointOverride(Endpoint endpoint, std::string_view value, std::string& error) {
    if (!CheckEndpointValue(endpoint, value, error)) {
        return false;
    }
    constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
    const std::string_view name = EndpointValueName(endpoint);
    if (value.empty()) {
        (void)DeleteRegistryValue(kMachine, kEndpointsKey, name);
    } else if (CreateRegistryKey(kMachine, kEndpointsKey) == 0 ||
               WriteRegistryString(kMachine, kEndpointsKey, name, value) == 0) {
        error = "the endpoint " + std::string(name) + " could not be written";
        return false;
    }
    if (ReadEndpointOverride(endpoint) != value) {
        error = "the endpoint " + std::string(name) + " did not read back as written";
        return false;
    }
    return true;
}

}  // namespace quarnel
