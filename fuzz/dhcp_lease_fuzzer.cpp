// DHCP lease files (systemd-networkd's KEY=VALUE form and dhclient's lease list): whatever the
// file holds, a domain comes out only when it is an acceptable domain name.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/dhcp_lease_parsers.h"

namespace quarnel {
namespace {

// 1 to 253 letters, digits, '-', '_' and '.', checked independently.
bool IsAcceptable(std::string_view text) {
    return !text.empty() && text.size() <= 253 &&
           text.find_first_not_of(
               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
               "0123456789-_.") == std::string_view::npos;
}

void CheckLease(const LeaseDomain& lease) {
    FUZZ_CHECK(!fuzz::HasControlCharacter(lease.problem));
    if (!lease.wellFormed) {
        FUZZ_CHECK(!lease.leaseFound && lease.domain.empty() && !lease.problem.empty());
    }
    if (!lease.domain.empty()) {
        FUZZ_CHECK(lease.wellFormed && lease.leaseFound && lease.problem.empty());
        FUZZ_CHECK(IsAcceptable(lease.domain));
    }
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::string_view text = fuzz::AsText(data, size);
    FUZZ_CHECK(IsAcceptableDomainName(text) == IsAcceptable(text));

    const LeaseDomain keyValue = ParseKeyValueLease(text);
    CheckLease(keyValue);
    if (keyValue.wellFormed) {
        FUZZ_CHECK(keyValue.leaseFound);
    }
    if (!keyValue.domain.empty()) {
        FUZZ_CHECK(text.find(keyValue.domain) != std::string_view::npos);
    }
    for (const std::string_view interfaceName : {"eth0", "wlp3s0", ""}) {
        const LeaseDomain dhclient = ParseDhclientLeases(text, interfaceName);
        CheckLease(dhclient);
        if (text.find(interfaceName) == std::string_view::npos) {
            FUZZ_CHECK(!dhclient.leaseFound);
        }
    }

    // An acceptable domain written into either format by a client is read back unchanged.
    const std::string_view domain = text.substr(0, text.find('\n'));
    if (IsAcceptable(domain)) {
        const std::string written =
            "ADDRESS=198.51.100.7\nDOMAINNAME=" + std::string(domain) + "\n";
        FUZZ_CHECK(ParseKeyValueLease(written).domain == domain);
        const std::string leases = "lease {\n  interface \"eth0\";\n  option domain-name \"" +
                                   std::string(domain) +
                                   "\";\n}\nlease {\n  interface \"eth1\";\n}\n";
        const LeaseDomain read = ParseDhclientLeases(leases, "eth0");
        FUZZ_CHECK(read.leaseFound && read.domain == domain);
    }
    return 0;
}
