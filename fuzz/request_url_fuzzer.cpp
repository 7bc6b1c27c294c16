// Request URLs: splitting an arbitrary text into scheme, host, port, path and query, and the URL
// handed to the transport.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ddns/request_url.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace quarnel {
namespace {

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool IsIPv6LiteralCharacter(char c) {
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
           c == '.';
}

void CheckHost(const std::string& host) {
    FUZZ_CHECK(!host.empty());
    if (host.front() == '[') {
        FUZZ_CHECK(host.size() >= 4 && host.back() == ']');
        for (const char c : std::string_view(host).substr(1, host.size() - 2)) {
            FUZZ_CHECK(IsIPv6LiteralCharacter(c));
        }
        return;
    }
    for (const char c : host) {
        FUZZ_CHECK(IsHostCharacter(c));
    }
}

// Every byte may stand in a request line: no blank, control, non-ASCII or unsafe character.
bool SafeForRequestLine(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F ||
            std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::string_view url = fuzz::AsText(data, size);
    const std::optional<RequestUrl> parts = SplitRequestUrl(url);
    if (!parts) {
        return 0;
    }
    const std::string scheme = ToLowerAscii(url.substr(0, url.find("://")));
    FUZZ_CHECK(scheme == (parts->secure ? "https" : "http"));
    CheckHost(parts->host);
    FUZZ_CHECK(url.find(parts->host) != std::string_view::npos);
    FUZZ_CHECK(parts->port >= 1 && parts->port <= 65535);
    if (!parts->explicitPort) {
        FUZZ_CHECK(parts->port == (parts->secure ? 443 : 80));
    }
    FUZZ_CHECK(parts->path.empty() || parts->path.front() == '/');
    FUZZ_CHECK(parts->extra.empty() || parts->extra.front() == '?');
    FUZZ_CHECK(parts->path.find_first_of("?#") == std::string::npos);
    FUZZ_CHECK(parts->extra.find('#') == std::string::npos);

    // The transport's URL is safe to send and names the same server; splitting and forming it
    // again changes nothing more.
    const std::string transport = TransportUrl(*parts);
    FUZZ_CHECK(SafeForRequestLine(transport));
    const std::optional<RequestUrl> again = SplitRequestUrl(transport);
    FUZZ_CHECK(again.has_value());
    if (again) {
        FUZZ_CHECK(again->secure == parts->secure);
        FUZZ_CHECK(again->host == parts->host);
        FUZZ_CHECK(again->port == parts->port);
        FUZZ_CHECK(again->explicitPort == parts->explicitPort);
        FUZZ_CHECK(again->path.empty() == parts->path.empty());
        FUZZ_CHECK(TransportUrl(*again) == transport);
    }
    return 0;
}
