#pragma once

// Reading the answer packet of an A query: only its first answer record counts.

#include <cstddef>
#include <string>

namespace quarnel {

struct DnsAnswer {
    enum class Kind {
        None,     // no usable first record: a damaged packet, no answers, another record type
        Address,  // an A record: text is its address ("203.0.113.5")
        Alias,    // a CNAME record: text is the name it points to, never empty
    };
    Kind kind = Kind::None;
    std::string text;
};

// The first answer record of a DNS response packet of length bytes. The packet comes from the
// network: nothing in it is trusted, and no read leaves it.
DnsAnswer ReadFirstDnsAnswer(const unsigned char* packet, std::size_t length);

}  // namespace quarnel
