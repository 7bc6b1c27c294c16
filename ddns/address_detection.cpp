#include "ddns/address_detection.h"

#include <optional>

#include "ddns/dns_resolver.h"
#include "ddns/endpoints.h"
#include "ddns/http_client.h"
#include "ddns/ip_address.h"
#include "ddns/ipv6_choice.h"
#include "diagnostics/log.h"
#include "platform/network_info.h"

namespace quarnel {

std::string GetIPAddressDNS() {
    return ResolveHostName(GetEndpoint(Endpoint::OpenDnsMyIp),
                           GetEndpoint(Endpoint::OpenDnsResolvers));
}

std::string GetIPAddressHTTP() {
    return HttpRequestString("http://" + GetEndpoint(Endpoint::IpEchoHttp) + "/", "GET", 0, "", "",
                             "", "");
}

std::string GetIPAddressHTTPS() {
    // The certificate must name the echo host, as the provider's does: whoever holds a valid
    // certificate for some name of their own must not choose the address that is published.
    const std::string host = GetEndpoint(Endpoint::IpEcho);
    std::string answer = HttpRequestString("https://" + host + "/", "GET", 0, "", "", "", "");
    if (answer.empty() && LastHttpFailure() != HttpFailure::None) {
        QLOG(kLogWarn, "GetIPAddressHTTPS",
             "No address from the IP echo " + host + ": " + HttpFailureText(LastHttpFailure()));
    }
    return answer;
}

std::string GetIPAddressHTTPS6() {
    const std::string host = GetEndpoint(Endpoint::IpEcho6);
    const std::string answer =
        HttpRequestString("https://" + host + "/", "GET", HttpFlagIPv6Only, "", "", "", "");
    if (answer.empty()) {
        if (LastHttpFailure() != HttpFailure::None) {
            QLOG(kLogWarn, "GetIPAddressHTTPS6",
                 "No address from the IPv6 echo " + host + ": " +
                     HttpFailureText(LastHttpFailure()));
        }
        return {};
    }
    const std::optional<IPv6Bytes> address = ParseIPv6Address(answer);
    if (!IsValidIPv6Address(answer) || !IsGlobalUnicastIPv6(*address)) {
        QLOG(kLogTrace, "GetIPAddressHTTPS6",
             "The IPv6 echo " + host + " answered no global IPv6 address");
        return {};
    }
    return answer;
}

std::string GetIPv6Address() {
    constexpr const char* kProcedure = "GetIPv6Address";
    const IPv6DefaultRouteAddresses found = ReadIPv6DefaultRouteAddresses();
    if (!found.complete) {
        // The echo can still tell, and answers nothing without IPv6 connectivity.
        QLOG(kLogTrace, kProcedure,
             "IPv6 addresses unknown (" + found.problem + "), asking the echo");
        return GetIPAddressHTTPS6();
    }
    if (found.adapter.empty()) {
        QLOG(kLogTrace, kProcedure, "No IPv6 default route");
        return {};
    }
    const std::string chosen = ChooseIPv6Address(found.addresses);
    QLOG(kLogTrace, kProcedure,
         "IPv6 default route through " + found.adapter + ", " +
             std::to_string(found.addresses.size()) + " addresses, chosen: " + chosen);
    if (!chosen.empty()) {
        return chosen;
    }
    const std::string echoed = GetIPAddressHTTPS6();
    QLOG(kLogTrace, kProcedure, "IPv6 echo answered: " + echoed);
    return echoed;
}

bool TestConnectivity() {
    return !ResolveHostName(GetEndpoint(Endpoint::ProbeHost), "").empty();
}

}  // namespace quarnel
