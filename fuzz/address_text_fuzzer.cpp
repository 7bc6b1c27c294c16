// Address texts: dotted-decimal IPv4 addresses, IPv6 addresses and resolver lists
// ("a.b.c.d[:port],...").

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ddns/dns_resolver.h"
#include "ddns/ip_address.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace quarnel {
namespace {

// Four numbers 0 to 255 without leading zeros, joined by dots: the canonical form, checked
// without the program's own reading.
bool IsCanonicalAddress(std::string_view text) {
    const auto fields = SplitText(text, '.');
    if (fields.size() != 4) {
        return false;
    }
    for (const std::string_view field : fields) {
        if (field.empty() || field.size() > 3 || (field.size() > 1 && field.front() == '0') ||
            field.find_first_not_of("0123456789") != std::string_view::npos) {
            return false;
        }
        unsigned value = 0;
        std::from_chars(field.data(), field.data() + field.size(), value);
        if (value > 255) {
            return false;
        }
    }
    return true;
}

// A port as a resolver list gives it: 1 to 5 digits naming 1 to 65535.
bool ReadPort(std::string_view text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    unsigned value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value < 1 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

void CheckAddressText(std::string_view text) {
    const std::uint32_t packed = ParseIPAddress(text);
    const bool valid = IsValidIPAddress(text);
    FUZZ_CHECK(valid == IsCanonicalAddress(text));
    if (valid) {
        FUZZ_CHECK(FormatIPAddress(packed) == text);
    }
    if (SplitText(text, '.').size() != 4) {
        FUZZ_CHECK(packed == 0);
    }
}

// The C library's reading of IPv6 texts is the independent one: the program's accepts exactly
// the texts it accepts, to the same address, and its canonical text reads back.
void CheckIPv6Text(std::string_view text) {
    const std::string terminated(text);
    IPv6Bytes theirs{};
    const bool accepted = terminated.find('\0') == std::string::npos &&
                          ::inet_pton(AF_INET6, terminated.c_str(), theirs.data()) == 1;
    const std::optional<IPv6Bytes> ours = ParseIPv6Address(text);
    FUZZ_CHECK(ours.has_value() == accepted);
    if (ours) {
        FUZZ_CHECK(*ours == theirs);
        const std::string canonical = FormatIPv6Address(*ours);
        FUZZ_CHECK(IsValidIPv6Address(canonical));
        FUZZ_CHECK(ParseIPv6Address(canonical) == ours);
        FUZZ_CHECK(IsValidIPv6Address(text) == (canonical == text));
    } else {
        FUZZ_CHECK(!IsValidIPv6Address(text));
    }
}

void CheckServerList(std::string_view list) {
    const auto servers = ParseServerList(list);
    FUZZ_CHECK(servers.has_value() == !list.empty());
    if (!servers) {
        return;
    }
    const auto fields = SplitText(list, ',');
    FUZZ_CHECK(servers->size() == fields.size());
    for (std::size_t i = 0; i < fields.size() && i < servers->size(); ++i) {
        const std::string_view field = fields[i];
        const ResolverAddress& server = (*servers)[i];
        const std::size_t colon = field.find(':');
        std::uint16_t port = 53;
        if (colon != std::string_view::npos && !ReadPort(field.substr(colon + 1), port)) {
            FUZZ_CHECK(server.packed == 0);  // a bad port makes the entry name no resolver
            continue;
        }
        FUZZ_CHECK(server.packed == ParseIPAddress(field.substr(0, colon)));
        FUZZ_CHECK(server.port == port);
    }
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::string_view text = fuzz::AsText(data, size);
    CheckAddressText(text);
    CheckIPv6Text(text);
    CheckServerList(text);

    // Every packed address formats to a valid text that reads back as the same address.
    if (size >= 4) {
        const std::uint32_t packed = static_cast<std::uint32_t>(data[0]) |
                                     (static_cast<std::uint32_t>(data[1]) << 8) |
                                     (static_cast<std::uint32_t>(data[2]) << 16) |
                                     (static_cast<std::uint32_t>(data[3]) << 24);
        const std::string formatted = FormatIPAddress(packed);
        FUZZ_CHECK(IsValidIPAddress(formatted));
        FUZZ_CHECK(ParseIPAddress(formatted) == packed);
    }
    // So does every IPv6 address, and it is global exactly in 2000::/3.
    if (size >= 16) {
        IPv6Bytes address{};
        std::copy(data, data + 16, address.begin());
        const std::string formatted = FormatIPv6Address(address);
        FUZZ_CHECK(IsValidIPv6Address(formatted));
        FUZZ_CHECK(ParseIPv6Address(formatted) == address);
        FUZZ_CHECK(IsGlobalUnicastIPv6(address) == (data[0] >= 0x20 && data[0] <= 0x3F));
    }
    return 0;
}
