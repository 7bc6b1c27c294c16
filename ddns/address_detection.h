#pragma once

// Learning the public IPv4 address and testing that names resolve. None of these log; all give
// the empty text (or false) when they learn nothing. Endpoints come from ddns/endpoints.h.

#include <string>

namespace quarnel {

// The OpenDNS "myip" name asked at the OpenDNS resolvers.
std::string GetIPAddressDNS();
// The IP-echo page over http, its text unchanged (a trailing line end stays).
std::string GetIPAddressHTTP();
// The same over https; a certificate for another name is accepted, date and chain are checked.
std::string GetIPAddressHTTPS();
// True when the probe host name resolves at the system's resolvers.
bool TestConnectivity();

}  // namespace quarnel
