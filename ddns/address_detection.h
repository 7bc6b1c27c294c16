#pragma once

// Learning the public IPv4 and IPv6 addresses and testing that names resolve. All give the empty
// text (or false) when they learn nothing; only a refused certificate is logged (a WARN line naming
// the host and the reason), the callers log the rest. Endpoints come from ddns/endpoints.h.

#include <string>

namespace quarnel {

// The OpenDNS "myip" name asked at the OpenDNS resolvers.
std::string GetIPAddressDNS();
// The IP-echo page over http, its text unchanged (a trailing line end stays).
std::string GetIPAddressHTTP();
// The same over https; the certificate must verify and name the host (or its address).
std::string GetIPAddressHTTPS();
// The IPv6 echo page (IPEcho6) over https, reached over IPv6 only and checked as the IPv4 echo
// is; its answer only when that is one canonical global IPv6 address, else the empty text.
std::string GetIPAddressHTTPS6();
// The public IPv6 address: the one ChooseIPv6Address (ddns/ipv6_choice.h) picks among the
// addresses of the IPv6 default route's interface, else, when that interface holds none (behind a
// router that translates IPv6), the IPv6 echo's answer; the empty text without an IPv6 default
// route or any usable address. Logs what it found at TRACE level.
std::string GetIPv6Address();
// True when the probe host name resolves at the system's resolvers.
bool TestConnectivity();

}  // namespace quarnel
