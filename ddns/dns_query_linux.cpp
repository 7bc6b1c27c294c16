#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/dns_query.h"
#include "ddns/dns_query_wire.h"
#include "ddns/ip_address.h"
#include "platform/helper_call.h"

// The query runs in the helper (helper/dns_operation.cpp): the sockets, the packets and their
// parsing stay out of this process, and a stop ends the query at once whatever the server's
// family, the transport or the configured time-outs, because it ends the helper.

namespace quarnel {
namespace {

// resolv.conf allows up to 30 s a try, 5 tries and 3 servers; the helper stops on its own well
// within this.
constexpr std::chrono::seconds kQueryDeadline{310};
// A name in presentation form with escapes is at most four times its 255 wire bytes.
constexpr std::size_t kNameTextLimit = 1024;

// The helper is not trusted either: what it answers must have the shape of a result.
bool Plausible(const DnsAnswer& answer) {
    switch (answer.kind) {
        case DnsAnswer::Kind::None:
            return answer.text.empty();
        case DnsAnswer::Kind::Address:
            return IsValidIPAddress(answer.text);
        case DnsAnswer::Kind::Alias:
            if (answer.text.empty() || answer.text.size() > kNameTextLimit) {
                return false;
            }
            for (const char c : answer.text) {
                if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
                    return false;
                }
            }
            return true;
    }
    return false;
}

}  // namespace

DnsAnswer RunDnsQuery(std::string_view host, const std::vector<ResolverAddress>& servers) {
    HelperCall call;
    call.operation = HelperOperation::DnsQuery;
    call.network = true;
    call.request = EncodeDnsQueryRequest({std::string(host), servers});
    call.deadline = kQueryDeadline;
    call.answerLimit = 1 + kNameTextLimit;
    const std::optional<std::string> reply = CallHelper(call);
    if (!reply) {
        return {};
    }
    std::optional<DnsAnswer> answer = DecodeDnsQueryAnswer(*reply);
    if (!answer || !Plausible(*answer)) {
        ReportHelperFailure("the helper's DNS answer is malformed");
        return {};
    }
    return *answer;
}

}  // namespace quarnel
