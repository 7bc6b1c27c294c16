#include "ddns/dns_resolver.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "ddns/dns_answer.h"
#include "ddns/endpoints.h"
#include "ddns/ip_address.h"
#include "platform/exchange_stop.h"
#include "platform/unique_fd.h"

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
    const struct __res_state& State() const { return *state_; }

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

enum class Exchange { Answered, NoAnswer, Truncated, Stopped };

// Sends the query to one server over UDP and waits up to timeoutMs for its answer; a stop of the
// network exchanges ends the wait at once.
Exchange AskServer(const sockaddr_in& server, const std::vector<unsigned char>& query,
                   int timeoutMs, std::vector<unsigned char>& answer, int& length) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd ||
        ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 ||
        ::send(fd.Get(), query.data(), query.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(query.size())) {
        return Exchange::NoAnswer;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (NetworkExchangesStopped()) {
            return Exchange::Stopped;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return Exchange::NoAnswer;
        }
        pollfd polls[2] = {{fd.Get(), POLLIN, 0},
                           {static_cast<int>(NetworkStopHandle()), POLLIN, 0}};
        if (::poll(polls, 2, static_cast<int>(left)) < 0 && errno != EINTR) {
            return Exchange::NoAnswer;
        }
        if ((polls[0].revents & POLLIN) == 0) {
            continue;
        }
        const ssize_t got = ::recv(fd.Get(), answer.data(), answer.size(), 0);
        // Only the answer to this query counts: same id, marked as a response. A refusal or a
        // server failure lets the next server try.
        if (got < 12 || answer[0] != query[0] || answer[1] != query[1] || (answer[2] & 0x80) == 0) {
            continue;
        }
        const int rcode = answer[3] & 0x0F;
        if (rcode != ns_r_noerror && rcode != ns_r_nxdomain) {
            return Exchange::NoAnswer;
        }
        length = static_cast<int>(got);
        return (answer[2] & 0x02) != 0 ? Exchange::Truncated : Exchange::Answered;
    }
}

// The resolver's own exchange, with the servers, time-out and tries of the resolver state, but
// one that a stop ends at once. Servers that are not IPv4, and truncated answers, are left to the
// system's resolver library, which cannot be interrupted.
int Query(ResolverState& state, const std::string& host, std::vector<unsigned char>& answer) {
    const struct __res_state& settings = state.State();
    bool allIPv4 = settings.nscount > 0;
    for (int i = 0; i < settings.nscount; ++i) {
        allIPv4 = allIPv4 && settings.nsaddr_list[i].sin_family == AF_INET;
    }
    if (!allIPv4) {
        return res_nquery(state.Get(), host.c_str(), ns_c_in, ns_t_a, answer.data(),
                          static_cast<int>(answer.size()));
    }
    std::vector<unsigned char> query(NS_PACKETSZ);
    const int queryLength =
        res_nmkquery(state.Get(), ns_o_query, host.c_str(), ns_c_in, ns_t_a, nullptr, 0, nullptr,
                     query.data(), static_cast<int>(query.size()));
    if (queryLength <= 0) {
        return -1;
    }
    query.resize(static_cast<std::size_t>(queryLength));
    const int tries = std::max(1, settings.retry);
    const int timeoutMs = std::max(1, settings.retrans) * 1000;
    for (int attempt = 0; attempt < tries; ++attempt) {
        for (int i = 0; i < settings.nscount; ++i) {
            int length = 0;
            switch (AskServer(settings.nsaddr_list[i], query, timeoutMs, answer, length)) {
                case Exchange::Answered:
                    return length;
                case Exchange::Truncated:
                    return res_nquery(state.Get(), host.c_str(), ns_c_in, ns_t_a, answer.data(),
                                      static_cast<int>(answer.size()));
                case Exchange::Stopped:
                    return -1;
                case Exchange::NoAnswer:
                    break;
            }
        }
    }
    return -1;
}

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
    if (NetworkExchangesStopped()) {
        return {};
    }
    std::vector<unsigned char> answer(65536);
    const int length = Query(state, host, answer);
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

std::string ResolveHostName(std::string_view host, std::string_view resolvers) {
    return Resolve(std::string(host), resolvers, 0);
}

}  // namespace quarnel
