#include "ddns/dns_exchange.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>

#include "platform/unique_fd.h"

namespace quarnel {
namespace {

using Clock = std::chrono::steady_clock;

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

  private:
    std::unique_ptr<struct __res_state> state_;
    bool ready_ = false;
};

enum class Outcome { Answered, NoAnswer, Truncated };

int LeftMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, INT_MAX)) : 0;
}

bool SameServer(const sockaddr_storage& from, socklen_t fromLength, const DnsServer& server) {
    if (from.ss_family != server.address.ss_family) {
        return false;
    }
    if (from.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(from);
        const auto& b = reinterpret_cast<const sockaddr_in&>(server.address);
        return fromLength >= sizeof a && a.sin_port == b.sin_port &&
               a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    const auto& a = reinterpret_cast<const sockaddr_in6&>(from);
    const auto& b = reinterpret_cast<const sockaddr_in6&>(server.address);
    return fromLength >= sizeof a && a.sin6_port == b.sin6_port &&
           std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
}

// The question of a query this process built, in presentation form.
std::string QuestionName(const std::vector<unsigned char>& query) {
    ns_msg message{};
    ns_rr question{};
    if (ns_initparse(query.data(), static_cast<int>(query.size()), &message) != 0 ||
        ns_parserr(&message, ns_s_qd, 0, &question) != 0) {
        return {};
    }
    return ns_rr_name(question);
}

// Whether a packet is the answer to query at all (same id, a response, exactly its question);
// one that is not is ignored, whoever sent it.
bool AnswersQuery(const unsigned char* packet, std::size_t length,
                  const std::vector<unsigned char>& query, const std::string& name) {
    if (length < NS_HFIXEDSZ || packet[0] != query[0] || packet[1] != query[1] ||
        (packet[2] & 0x80) == 0) {
        return false;
    }
    ns_msg message{};
    ns_rr question{};
    return ns_initparse(packet, static_cast<int>(length), &message) == 0 &&
           ns_msg_count(message, ns_s_qd) == 1 &&
           ns_parserr(&message, ns_s_qd, 0, &question) == 0 && ns_rr_type(question) == ns_t_a &&
           ns_rr_class(question) == ns_c_in && SameDnsName(ns_rr_name(question), name);
}

// What the server's answer means for the exchange: a refusal or a failure lets the next server
// try; NXDOMAIN is an answer (there is no such name).
Outcome Judge(const unsigned char* packet) {
    const int rcode = packet[3] & 0x0F;
    if (rcode != ns_r_noerror && rcode != ns_r_nxdomain) {
        return Outcome::NoAnswer;
    }
    return (packet[2] & 0x02) != 0 ? Outcome::Truncated : Outcome::Answered;
}

// Waits for fd to become ready for events until deadline.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    while (true) {
        const int left = LeftMs(deadline);
        if (left == 0) {
            return false;
        }
        pollfd watched{fd, events, 0};
        const int ready = ::poll(&watched, 1, left);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

Outcome AskOverUdp(const DnsServer& server, const std::vector<unsigned char>& query,
                   const std::string& name, Clock::time_point deadline,
                   std::vector<unsigned char>& answer, std::size_t& length) {
    // Not connected: the source of every datagram is compared here, so an answer from anyone
    // but the server asked never counts.
    const UniqueFd fd(
        ::socket(server.address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd || ::sendto(fd.Get(), query.data(), query.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&server.address),
                        server.length) != static_cast<ssize_t>(query.size())) {
        return Outcome::NoAnswer;
    }
    while (WaitFor(fd.Get(), POLLIN, deadline)) {
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(fd.Get(), answer.data(), answer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got <= 0 || !SameServer(from, fromLength, server) ||
            !AnswersQuery(answer.data(), static_cast<std::size_t>(got), query, name)) {
            continue;
        }
        length = static_cast<std::size_t>(got);
        return Judge(answer.data());
    }
    return Outcome::NoAnswer;
}

bool ReadExactly(int fd, unsigned char* data, std::size_t size, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < size) {
        if (!WaitFor(fd, POLLIN, deadline)) {
            return false;
        }
        const ssize_t got = ::recv(fd, data + done, size - done, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        done += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    return true;
}

// The same question over TCP, for an answer too large for a datagram.
Outcome AskOverTcp(const DnsServer& server, const std::vector<unsigned char>& query,
                   const std::string& name, Clock::time_point deadline,
                   std::vector<unsigned char>& answer, std::size_t& length) {
    const UniqueFd fd(
        ::socket(server.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        return Outcome::NoAnswer;
    }
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&server.address), server.length) !=
            0 &&
        errno != EINPROGRESS) {
        return Outcome::NoAnswer;
    }
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (!WaitFor(fd.Get(), POLLOUT, deadline) ||
        ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0 || error != 0) {
        return Outcome::NoAnswer;
    }
    std::vector<unsigned char> framed = {static_cast<unsigned char>(query.size() >> 8),
                                         static_cast<unsigned char>(query.size() & 0xFF)};
    framed.insert(framed.end(), query.begin(), query.end());
    std::size_t sent = 0;
    while (sent < framed.size()) {
        if (!WaitFor(fd.Get(), POLLOUT, deadline)) {
            return Outcome::NoAnswer;
        }
        const ssize_t wrote =
            ::send(fd.Get(), framed.data() + sent, framed.size() - sent, MSG_NOSIGNAL);
        if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
            return Outcome::NoAnswer;
        }
        sent += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
    unsigned char size[2];
    if (!ReadExactly(fd.Get(), size, 2, deadline)) {
        return Outcome::NoAnswer;
    }
    length = (static_cast<std::size_t>(size[0]) << 8) | size[1];
    if (length > answer.size() || !ReadExactly(fd.Get(), answer.data(), length, deadline) ||
        !AnswersQuery(answer.data(), length, query, name)) {
        return Outcome::NoAnswer;
    }
    // A cut answer even over TCP has nothing more to give.
    const Outcome outcome = Judge(answer.data());
    return outcome == Outcome::Truncated ? Outcome::NoAnswer : outcome;
}

DnsServer FromResolverAddress(const ResolverAddress& given) {
    DnsServer server;
    auto& address = reinterpret_cast<sockaddr_in&>(server.address);
    address.sin_family = AF_INET;
    address.sin_port = htons(given.port);
    address.sin_addr.s_addr = given.packed;
    server.length = sizeof address;
    return server;
}

}  // namespace

bool ReadDnsExchangeSettings(const std::vector<ResolverAddress>& given,
                             DnsExchangeSettings& settings) {
    ResolverState state;
    if (!state.Ready()) {
        return false;
    }
    const struct __res_state& configured = *state.Get();
    settings.timeoutMs = std::max(1, configured.retrans) * 1000;
    settings.tries = std::max(1, configured.retry);
    settings.servers.clear();
    if (!given.empty()) {
        for (const ResolverAddress& entry : given) {
            if (entry.packed != 0 && settings.servers.size() < MAXNS) {
                settings.servers.push_back(FromResolverAddress(entry));
            }
        }
        return !settings.servers.empty();
    }
    for (int i = 0; i < configured.nscount && i < MAXNS; ++i) {
        DnsServer server;
        if (configured.nsaddr_list[i].sin_family == AF_INET) {
            std::memcpy(&server.address, &configured.nsaddr_list[i], sizeof(sockaddr_in));
            server.length = sizeof(sockaddr_in);
        } else if (const sockaddr_in6* six = configured._u._ext.nsaddrs[i];
                   six != nullptr && six->sin6_family == AF_INET6) {
            std::memcpy(&server.address, six, sizeof *six);
            server.length = sizeof *six;
        } else {
            continue;
        }
        settings.servers.push_back(server);
    }
    return !settings.servers.empty();
}

DnsAnswer ExchangeDnsQuery(const std::string& host, const DnsExchangeSettings& settings,
                           int totalMs) {
    ResolverState state;
    if (host.empty() || !state.Ready()) {
        return {};
    }
    std::vector<unsigned char> query(NS_PACKETSZ);
    const int queryLength =
        res_nmkquery(state.Get(), ns_o_query, host.c_str(), ns_c_in, ns_t_a, nullptr, 0, nullptr,
                     query.data(), static_cast<int>(query.size()));
    if (queryLength <= 0) {
        return {};
    }
    query.resize(static_cast<std::size_t>(queryLength));
    const std::string name = QuestionName(query);
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(totalMs);
    std::vector<unsigned char> answer(65536);
    for (int attempt = 0; attempt < settings.tries; ++attempt) {
        for (const DnsServer& server : settings.servers) {
            const Clock::time_point deadline =
                std::min(end, Clock::now() + std::chrono::milliseconds(settings.timeoutMs));
            std::size_t length = 0;
            Outcome outcome = AskOverUdp(server, query, name, deadline, answer, length);
            if (outcome == Outcome::Truncated) {
                outcome = AskOverTcp(
                    server, query, name,
                    std::min(end, Clock::now() + std::chrono::milliseconds(settings.timeoutMs)),
                    answer, length);
            }
            if (outcome == Outcome::Answered) {
                return ReadFirstDnsAnswer(answer.data(), length, name);
            }
            if (Clock::now() >= end) {
                return {};
            }
        }
    }
    return {};
}

}  // namespace quarnel
