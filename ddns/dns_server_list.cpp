#include "ddns/dns_resolver.h"
#include "ddns/ip_address.h"
#include "ddns/port_text.h"

namespace quarnel {

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

}  // namespace quarnel
