#include "ddns/dns_resolver.h"

#include <cstddef>

#include "ddns/dns_query.h"
#include "ddns/endpoints.h"
#include "ddns/ip_address.h"
#include "ddns/port_text.h"
#include "platform/exchange_stop.h"

namespace quarnel {
namespace {

// Each step is a new query, so a loop of aliases must end somewhere.
constexpr int kMaxAliasSteps = 8;

std::string Resolve(const std::string& host, std::string_view resolvers, int aliasSteps) {
    if (host.empty() || NetworkExchangesStopped()) {
        return {};
    }
    std::string servers(resolvers);
    if (servers.empty()) {
        servers = GetEndpoint(Endpoint::Resolvers);
    }
    std::vector<ResolverAddress> asked;
    if (const auto list = ParseServerList(servers)) {
        for (const ResolverAddress& server : *list) {
            if (server.packed != 0) {
                asked.push_back(server);
            }
        }
        if (asked.empty()) {
            return {};  // a list that names no resolver never falls back to the system's
        }
    }
    const DnsAnswer first = RunDnsQuery(host, asked);
    if (first.kind == DnsAnswer::Kind::Address) {
        return first.text;
    }
    if (first.kind == DnsAnswer::Kind::Alias && aliasSteps < kMaxAliasSteps) {
        // The alias target is asked at the system's resolvers, not the given ones.
        return Resolve(first.text, {}, aliasSteps + 1);
    }
    return {};
}

}  // namespace

std::optional<std::vector<ResolverAddress>> ParseServerList(std::string_view list) {
    if (list.empty()) {
        return std::nullopt;
    }
    std::vector<ResolverAddress> servers;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = list.find(',', start);
        const std::string_view field = list.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        ResolverAddress server;
        const std::size_t colon = field.find(':');
        server.packed = ParseIPAddress(field.substr(0, colon));
        if (colon != std::string_view::npos) {
            if (const std::optional<std::uint16_t> port = ReadPortText(field.substr(colon + 1))) {
                server.port = *port;
            } else {
                server.packed = 0;
            }
        }
        servers.push_back(server);
        if (end == std::string_view::npos) {
            return servers;
        }
        start = end + 1;
    }
}

std::string ResolveHostName(std::string_view host, std::string_view resolvers) {
    return Resolve(std::string(host), resolvers, 0);
}

}  // namespace quarnel
