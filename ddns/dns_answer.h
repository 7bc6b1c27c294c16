#pragma once

// Reading the answer packet of an A query: only its first answer record counts. That the packet
// answers the question asked at all is the exchange's check (ddns/dns_exchange.h).

#include <cstddef>
#include <string>
#include <string_view>

namespace quarnel {

struct DnsAnswer {
    enum class Kind {
        None,     // no usable first record: a damaged packet, another question, no answers,
                  // another record type, class or owner
        Address,  // an A record: text is its address ("203.0.113.5")
        Alias,    // a CNAME record: text is the name it points to, never empty
    };
    Kind kind = Kind::None;
    std::string text;
};

// The first answer record of a DNS response packet of length bytes to an A query for name; it
// counts only when it has class IN and name as its owner (compared as SameDnsName does). The
// packet comes from the network: nothing in it is trusted, and no read leaves it.
DnsAnswer ReadFirstDnsAnswer(const unsigned char* packet, std::size_t length,
                             std::string_view name);

// True when two domain names in presentation form are the same name: letter case and a final
// dot do not count.
bool SameDnsName(std::string_view a, std::string_view b);

}  // namespace quarnel
