#include "ddns/dns_resolver.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "ddns/dns_answer.h"
#include "ddns/endpoints.h"
#include "ddns/ip_address.h"
#include "ddns/port_text.h"

namespace quarnel {
namespace {

// Each step is a new query, so a loop of aliases must end somewhere.
constexpr int kMaxAliasSteps = 8;

// A resolver state of our own (never the process-wide one), released in every case.
class ResolverState {
  public:
    ResolverState() : state_(std::make_unique<struct __res_state>()) {
        std::memset(state_.get(), 0, sizeof(struct __res_state));
        ready_ = res_ninit(state_.get()) == 0;
    }
    ~ResolverState() {
        if (ready_) {
            res_nclose(state_.get());
        }
    }
    ResolverState(const ResolverState&) = delete;
    ResolverState& operator=(const ResolverState&) = delete;

    bool Ready() const { return ready_; }
    res_state Get() { return state_.get(); }

    // Replaces the configured servers; false when none of the entries names one.
    bool UseServers(const std::vector<ResolverAddress>& servers) {
        int count = 0;
        for (const ResolverAddress& server : servers) {
            if (server.packed == 0 || count == MAXNS) {
                continue;
            }
            sockaddr_in& address = state_->nsaddr_list[count++];
            address = sockaddr_in{};
            address.sin_family = AF_INET;
            address.sin_port = htons(server.port);
            address.sin_addr.s_addr = server.packed;
        }
        state_->nscount = count;
        return count > 0;
    }

  private:
    std::unique_ptr<struct __res_state> state_;
    bool ready_ = false;
};

std::string Resolve(const std::string& host, std::string_view resolvers, int aliasSteps) {
    if (host.empty()) {
        return {};
    }
    std::string servers(resolvers);
    if (servers.empty()) {
        servers = GetEndpoint(Endpoint::Resolvers);
    }
    ResolverState state;
    if (!state.Ready()) {
        return {};
    }
    if (const auto list = ParseServerList(servers); list && !state.UseServers(*list)) {
        return {};
    }
    std::vector<unsigned char> answer(65536);
    const int length = res_nquery(state.Get(), host.c_str(), ns_c_in, ns_t_a, answer.data(),
                                  static_cast<int>(answer.size()));
    if (length <= 0) {
        return {};
    }
    // A resolver may report the length of an answer it had to cut; only the buffer is read.
    const DnsAnswer first = ReadFirstDnsAnswer(
        answer.data(), std::min(static_cast<std::size_t>(length), answer.size()));
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
