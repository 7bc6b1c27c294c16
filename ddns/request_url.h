#pragma once

// Splitting a request URL into the parts the HTTP client uses.

#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

struct RequestUrl {
    bool secure = false;  // https
    std::string host;     // name or address; an IPv6 literal keeps its brackets
    int port = 0;         // the URL's port, or 443 / 80 when it names none
    bool explicitPort = false;
    std::string path;   // from the first "/" up to "?" or "#"; may be empty
    std::string extra;  // the query with its "?", up to "#"; may be empty
};

// Splits an absolute http or https URL (scheme letters in any case). Nothing for another scheme,
// a missing "://", an empty host, a host with characters no host name or address has, or a port
// that is not a number from 1 to 65535. User information before "@" is ignored; the fragment is
// dropped. The path may be empty (the caller decides).
std::optional<RequestUrl> SplitRequestUrl(std::string_view url);

// The URL handed to the transport: scheme, host, the port when the URL named one, and path and
// query with every byte that a request line cannot carry (controls, blank, non-ASCII, and
// " < > \ ^ ` { | }) written as %XX. Existing %XX sequences stay as they are.
std::string TransportUrl(const RequestUrl& url);

}  // namespace quarnel
