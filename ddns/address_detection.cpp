#include "ddns/address_detection.h"

#include "ddns/dns_resolver.h"
#include "ddns/endpoints.h"
#include "ddns/http_client.h"

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
    return HttpRequestString("https://" + GetEndpoint(Endpoint::IpEcho) + "/", "GET",
                             HttpFlagIgnoreCertName, "", "", "", "");
}

bool TestConnectivity() {
    return !ResolveHostName(GetEndpoint(Endpoint::ProbeHost), "").empty();
}

}  // namespace quarnel
