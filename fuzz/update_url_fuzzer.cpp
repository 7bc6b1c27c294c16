// The provider update URL built from arbitrary host names and addresses: the request always goes
// to the provider's update host and path, and the query carries exactly the given texts.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ddns/endpoints.h"
#include "ddns/provider_update.h"
#include "ddns/request_url.h"
#include "fuzz/fuzz_support.h"

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

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    fuzz::UseTemporaryRoot();  // no endpoint overrides: the built-in update hosts
    if (size == 0) {
        return 0;
    }
    // The first byte picks the provider number (also numbers outside 0 to 5); the rest is the
    // host name list and the address, split at the first zero byte.
    const std::int64_t service = static_cast<std::int8_t>(data[0]);
    const std::string_view rest = fuzz::AsText(data + 1, size - 1);
    const std::size_t zero = rest.find('\0');
    const std::string_view hostname = rest.substr(0, zero);
    const std::string_view address =
        zero == std::string_view::npos ? std::string_view() : rest.substr(zero + 1);

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
    FUZZ_CHECK(parts->host == EndpointDefault(kUpdateHosts[service]));
    FUZZ_CHECK(!parts->explicitPort);
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
