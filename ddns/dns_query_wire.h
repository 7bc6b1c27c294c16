#pragma once

// What travels between ddns/dns_query_linux.cpp and the helper's DNS operation. Request: two
// fields (platform/crypto_request.h's layout): the name, and the servers as six bytes each (the
// packed IPv4 address as it lies in memory, the port in network order); no servers means the
// system's. Answer: one byte (the DnsAnswer kind: '0' none, '1' address, '2' alias), then the
// text. Header-only, shared by both sides.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/dns_query.h"
#include "platform/crypto_request.h"

namespace quarnel {

inline constexpr std::size_t kDnsQueryRequestFields = 2;
inline constexpr std::size_t kDnsQueryServerSize = 6;

struct DnsQueryRequest {
    std::string host;
    std::vector<ResolverAddress> servers;
};

inline std::string EncodeDnsQueryRequest(const DnsQueryRequest& request) {
    std::string servers;
    for (const ResolverAddress& server : request.servers) {
        char bytes[kDnsQueryServerSize];
        std::memcpy(bytes, &server.packed, 4);
        bytes[4] = static_cast<char>(server.port >> 8);
        bytes[5] = static_cast<char>(server.port & 0xFF);
        servers.append(bytes, sizeof bytes);
    }
    std::string encoded;
    AppendRequestField(encoded, request.host);
    AppendRequestField(encoded, servers);
    return encoded;
}

inline std::optional<DnsQueryRequest> DecodeDnsQueryRequest(std::string_view bytes) {
    const auto fields = SplitRequestFields(bytes, kDnsQueryRequestFields);
    if (!fields || (*fields)[1].size() % kDnsQueryServerSize != 0) {
        return std::nullopt;
    }
    DnsQueryRequest request;
    request.host = (*fields)[0];
    for (std::string_view servers = (*fields)[1]; !servers.empty();
         servers.remove_prefix(kDnsQueryServerSize)) {
        ResolverAddress server;
        std::memcpy(&server.packed, servers.data(), 4);
        server.port = static_cast<std::uint16_t>((static_cast<unsigned char>(servers[4]) << 8) |
                                                 static_cast<unsigned char>(servers[5]));
        request.servers.push_back(server);
    }
    return request;
}

inline std::string EncodeDnsQueryAnswer(const DnsAnswer& answer) {
    const char kind = answer.kind == DnsAnswer::Kind::Address ? '1'
                      : answer.kind == DnsAnswer::Kind::Alias ? '2'
                                                              : '0';
    return std::string(1, kind) + answer.text;
}

// Nothing unless the answer is well formed: a kind byte, and text exactly when it names one.
inline std::optional<DnsAnswer> DecodeDnsQueryAnswer(std::string_view bytes) {
    if (bytes.empty() || bytes[0] < '0' || bytes[0] > '2' ||
        (bytes[0] == '0') != (bytes.size() == 1)) {
        return std::nullopt;
    }
    DnsAnswer answer;
    answer.kind = bytes[0] == '1'   ? DnsAnswer::Kind::Address
                  : bytes[0] == '2' ? DnsAnswer::Kind::Alias
                                    : DnsAnswer::Kind::None;
    answer.text = bytes.substr(1);
    return answer;
}

}  // namespace quarnel
