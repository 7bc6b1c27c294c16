#include "ddns/address_detection.h"

#include "ddns/dns_resolver.h"
#include "ddns/endpoints.h"
#include "ddns/http_client.h"
#include "diagnostics/log.h"

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

bool TestConnectivity() {
    return !ResolveHostName(GetEndpoint(Endpoint::ProbeHost), "").empty();
}

}  // namespace quarnel
