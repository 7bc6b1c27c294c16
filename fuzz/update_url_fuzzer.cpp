// The provider update URL built from arbitrary host names and addresses, with the built-in update
// host or an overriding "host[:port]": the request always goes to that host and the update path,
// and the query carries exactly the given texts.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/endpoints.h"
#include "ddns/provider_update.h"
#include "ddns/request_url.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"
#include "settings/registry.h"

namespace quarnel {
namespace {

constexpr Endpoint kUpdateHosts[] = {
    Endpoint::DynDnsUpdate, Endpoint::OpenDnsUpdate, Endpoint::DnsOMaticUpdate,
    Endpoint::SpDnsUpdate,  Endpoint::StratoUpdate,  Endpoint::NoIpUpdate,
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;  // the URL writes upper-case digits only
}

// Undoes the query encoding; false when the text holds a character the encoding never leaves
// as it is or a broken escape.
bool DecodeQueryValue(std::string_view encoded, std::string& decoded) {
    decoded.clear();
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '%') {
            if (i + 2 >= encoded.size()) {
                return false;
            }
            const int high = HexValue(encoded[i + 1]);
            const int low = HexValue(encoded[i + 2]);
            if (high < 0 || low < 0) {
                return false;
            }
            decoded.push_back(static_cast<char>(high * 16 + low));
            i += 2;
            continue;
        }
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                          c == ',';
        if (!kept) {
            return false;
        }
        decoded.push_back(c);
    }
    return true;
}

// An override as an administrator writes it: "host" or "host:port", blanks around allowed.
// The host and port it names, or false when it is not of that form.
bool ReadOverride(std::string_view text, std::string& host, int& port) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return false;
    }
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    const std::size_t colon = text.find(':');
    host = std::string(text.substr(0, colon));
    port = 443;
    if (host.empty() ||
        host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789-._") != std::string::npos) {
        return false;
    }
    if (colon == std::string_view::npos) {
        return true;
    }
    const std::string_view digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.front() == '0' ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    port = std::stoi(std::string(digits));
    return port >= 1 && port <= 65535;
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    fuzz::UseTemporaryRoot();  // overrides only as written here
    static const bool keyMade = CreateRegistryKey(RegistryHive::LocalMachine, kEndpointsKey) == 1;
    FUZZ_CHECK(keyMade);
    if (size == 0) {
        return 0;
    }
    // The first byte picks the provider number (also numbers outside 0 to 5); the rest is the
    // host name list, the address and an override of the update host, split at zero bytes.
    const std::int64_t service = static_cast<std::int8_t>(data[0]);
    const std::vector<std::string> pieces = SplitText(fuzz::AsText(data + 1, size - 1), '\0');
    const std::string hostname = pieces[0];
    const std::string address = pieces.size() > 1 ? pieces[1] : std::string();

    std::string expectedHost;
    int expectedPort = 443;
    const bool overridden = service >= 0 && service <= 5 && pieces.size() > 2 &&
                            ReadOverride(pieces[2], expectedHost, expectedPort);
    if (service >= 0 && service <= 5) {
        const std::string_view valueName = EndpointValueName(kUpdateHosts[service]);
        if (overridden) {
            FUZZ_CHECK(WriteRegistryString(RegistryHive::LocalMachine, kEndpointsKey, valueName,
                                           pieces[2]) == 1);
        } else {
            DeleteRegistryValue(RegistryHive::LocalMachine, kEndpointsKey, valueName);
            expectedHost = EndpointDefault(kUpdateHosts[service]);
            expectedPort = 443;
        }
    }

    const std::string url = BuildUpdateUrl(service, hostname, address);
    if (service < 0 || service > 5) {
        FUZZ_CHECK(url.empty());
        return 0;
    }
    const std::optional<RequestUrl> parts = SplitRequestUrl(url);
    FUZZ_CHECK(parts.has_value());
    if (!parts) {
        return 0;
    }
    FUZZ_CHECK(parts->secure);
    FUZZ_CHECK(parts->host == expectedHost);
    FUZZ_CHECK(parts->port == expectedPort);
    FUZZ_CHECK(parts->path == "/nic/update");
    FUZZ_CHECK(TransportUrl(*parts) == url);  // nothing left for the transport to escape

    constexpr std::string_view kHostKey = "?hostname=";
    constexpr std::string_view kAddressKey = "&myip=";
    const std::string& query = parts->extra;
    FUZZ_CHECK(query.compare(0, kHostKey.size(), kHostKey) == 0);
    const std::size_t separator = query.find('&');
    FUZZ_CHECK(separator != std::string::npos);
    FUZZ_CHECK(query.compare(separator, kAddressKey.size(), kAddressKey) == 0);
    std::string names;
    std::string myip;
    FUZZ_CHECK(DecodeQueryValue(
        std::string_view(query).substr(kHostKey.size(), separator - kHostKey.size()), names));
    FUZZ_CHECK(
        DecodeQueryValue(std::string_view(query).substr(separator + kAddressKey.size()), myip));
    const bool allHosts = service == 2 && hostname.empty();
    FUZZ_CHECK(names == (allHosts ? EndpointDefault(Endpoint::DnsOMaticAllHosts) : hostname));
    FUZZ_CHECK(myip == address);
    return 0;
}
