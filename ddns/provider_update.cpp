#include "ddns/provider_update.h"

#include <cstdio>
#include <iterator>

#include "ddns/endpoints.h"

namespace quarnel {
namespace {

bool KeptInQuery(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == ',';
}

// A query may hold ":" as it is; only the address keeps it, so host names go out as before.
std::string EncodeQueryValue(std::string_view text, bool keepColon = false) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (KeptInQuery(byte) || (keepColon && c == ':')) {
            out.push_back(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        }
    }
    return out;
}

}  // namespace

std::string BuildUpdateUrl(std::int64_t service, std::string_view hostname,
                           std::string_view address) {
    static constexpr Endpoint kUpdateHosts[] = {
        Endpoint::DynDnsUpdate, Endpoint::OpenDnsUpdate, Endpoint::DnsOMaticUpdate,
        Endpoint::SpDnsUpdate,  Endpoint::StratoUpdate,  Endpoint::NoIpUpdate,
    };
    if (service < kProviderDynDns || service > kProviderNoIp) {
        return {};
    }
    std::string names(hostname);
    if (service == kProviderDnsOMatic && names.empty()) {
        names = GetEndpoint(Endpoint::DnsOMaticAllHosts);
    }
    return "https://" + GetEndpoint(kUpdateHosts[service]) +
           "/nic/update?hostname=" + EncodeQueryValue(names) +
           "&myip=" + EncodeQueryValue(address, true);
}

bool ProviderTakesIPv6(std::int64_t service) {
    return service == kProviderDynDns || service == kProviderSpDns || service == kProviderStrato ||
           service == kProviderNoIp;
}

std::string ProviderName(std::int64_t service) {
    static constexpr const char* kNames[] = {"DynDNS", "OpenDNS", "DNS-O-Matic",
                                             "spDNS",  "STRATO",  "No-IP"};
    if (service >= 0 && service < static_cast<std::int64_t>(std::size(kNames))) {
        return kNames[service];
    }
    return std::to_string(service);
}

std::string TrimUpdateAnswer(std::string_view answer) {
    const auto trim = [](std::string_view& text, char c) {
        while (!text.empty() && text.front() == c)
            text.remove_prefix(1);
        while (!text.empty() && text.back() == c)
            text.remove_suffix(1);
    };
    trim(answer, '\n');
    trim(answer, '\r');
    return std::string(answer);
}

}  // namespace quarnel
