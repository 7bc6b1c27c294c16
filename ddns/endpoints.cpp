#include "ddns/endpoints.h"

#include <cstddef>

#include "settings/registry.h"

namespace quarnel {
namespace {

struct EndpointEntry {
    std::string_view valueName;
    std::string_view defaultValue;
};

// Indexed by Endpoint. The providers' and OpenDNS's values are their published endpoints. The
// maker's hosts are names under the reserved "example" domain until whoever distributes the
// program sets real ones: identified requests must never go to a domain nobody here controls.
constexpr EndpointEntry kEndpoints[] = {
    {"DynDNS", "members.dyndns.org"},
    {"OpenDNS", "updates.opendns.com"},
    {"DNSOMatic", "updates.dnsomatic.com"},
    {"spDNS", "update.spdyn.de"},
    {"STRATO", "dyndns.strato.com"},
    {"NoIP", "dynupdate.no-ip.com"},
    {"DNSOMaticAllHosts", "all.dnsomatic.com"},
    {"IPEcho", "myip.dnsomatic.com"},
    {"IPEchoHTTP", ""},
    {"OpenDNSResolvers", "208.67.222.222,208.67.220.220"},
    {"OpenDNSMyIP", "myip.opendns.com"},
    {"ProbeHost", "www.google.com"},
    {"Website", "quarnel-updater.example"},
    {"IssueTracker", "issues.quarnel-updater.example"},
    {"Resolvers", ""},
    // Reachable over IPv6 only, so it answers nothing else.
    {"IPEcho6", "api6.ipify.org"},
};

const EndpointEntry& Entry(Endpoint endpoint) {
    return kEndpoints[static_cast<std::size_t>(endpoint)];
}

std::string Trim(std::string text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string_view EndpointValueName(Endpoint endpoint) {
    return Entry(endpoint).valueName;
}

std::string_view EndpointDefault(Endpoint endpoint) {
    return Entry(endpoint).defaultValue;
}

std::string GetEndpoint(Endpoint endpoint) {
    std::string value = Trim(
        ReadRegistryString(RegistryHive::LocalMachine, kEndpointsKey, EndpointValueName(endpoint)));
    if (value.empty()) {
        value = endpoint == Endpoint::IpEchoHttp ? GetEndpoint(Endpoint::IpEcho)
                                                 : std::string(EndpointDefault(endpoint));
    }
    return value;
}

}  // namespace quarnel
