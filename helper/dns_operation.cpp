#include "helper/dns_operation.h"

#include "ddns/dns_exchange.h"
#include "ddns/dns_query_wire.h"

namespace quarnel {
namespace {

// However resolv.conf sets time-out and tries, a query ends by then; the caller's own deadline
// is a little longer.
constexpr int kQueryLimitMs = 300000;

}  // namespace

std::optional<std::string> RunDnsQueryOperation(std::string_view bytes) {
    const std::optional<DnsQueryRequest> request = DecodeDnsQueryRequest(bytes);
    if (!request) {
        return std::nullopt;
    }
    DnsExchangeSettings settings;
    DnsAnswer answer;
    if (ReadDnsExchangeSettings(request->servers, settings)) {
        answer = ExchangeDnsQuery(request->host, settings, kQueryLimitMs);
    }
    return EncodeDnsQueryAnswer(answer);
}

}  // namespace quarnel
