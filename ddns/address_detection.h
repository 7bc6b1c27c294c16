#pragma once

// Learning the public IPv4 address and testing that names resolve. All give the empty text (or
// false) when they learn nothing; only a refused certificate is logged (a WARN line naming the
// host and the reason), the callers log the rest. Endpoints come from ddns/endpoints.h.

#include <string>

namespace quarnel {

// The OpenDNS "myip" name asked at the OpenDNS resolvers.
std::string GetIPAddressDNS();
// The IP-echo page over http, its text unchanged (a trailing line end stays).
std::string GetIPAddressHTTP();
// The same over https; the certificate must verify and name the host (or its address).
std::string GetIPAddressHTTPS();
// True when the probe host name resolves at the system's resolvers.
bool TestConnectivity();

}  // namespace quarnel
