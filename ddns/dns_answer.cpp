#include "ddns/dns_answer.h"

#include <arpa/nameser.h>
#include <resolv.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "ddns/ip_address.h"
#include "platform/text.h"

namespace quarnel {

bool SameDnsName(std::string_view a, std::string_view b) {
    const auto trimmed = [](std::string_view name) {
        return name.ends_with('.') ? name.substr(0, name.size() - 1) : name;
    };
    return ToLowerAscii(trimmed(a)) == ToLowerAscii(trimmed(b));
}

DnsAnswer ReadFirstDnsAnswer(const unsigned char* packet, std::size_t length,
                             std::string_view name) {
    DnsAnswer answer;
    if (packet == nullptr || length == 0 || length > INT_MAX) {
        return answer;
    }
    ns_msg message{};
    ns_rr record{};
    if (ns_initparse(packet, static_cast<int>(length), &message) != 0 ||
        ns_msg_count(message, ns_s_an) == 0 || ns_parserr(&message, ns_s_an, 0, &record) != 0 ||
        ns_rr_class(record) != ns_c_in || !SameDnsName(ns_rr_name(record), name)) {
        return answer;
    }
    if (ns_rr_type(record) == ns_t_a && ns_rr_rdlen(record) == 4) {
        std::uint32_t packed = 0;
        std::memcpy(&packed, ns_rr_rdata(record), 4);
        answer.kind = DnsAnswer::Kind::Address;
        answer.text = FormatIPAddress(packed);
        return answer;
    }
    if (ns_rr_type(record) == ns_t_cname) {
        char target[NS_MAXDNAME];
        if (ns_name_uncompress(ns_msg_base(message), ns_msg_end(message), ns_rr_rdata(record),
                               target, sizeof target) < 0 ||
            target[0] == '\0') {
            return answer;
        }
        answer.kind = DnsAnswer::Kind::Alias;
        answer.text = target;
    }
    return answer;
}

}  // namespace quarnel
