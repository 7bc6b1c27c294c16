// Address texts: dotted-decimal IPv4 addresses and resolver lists ("a.b.c.d[:port],...").

#include <charconv>
#include <cstddef>
#include <cstdint>
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
    return 0;
}
