// The DNS query on Windows: the program's own UDP exchange over Winsock. DnsQuery_W is not used:
// it takes no port for an explicit server, and under Wine a server named once is kept for later
// lookups that name none.

#include <winsock2.h>
// In this order: the IP helper's headers need Winsock's and windows.h.
#include <iphlpapi.h>
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

#include "ddns/dns_answer.h"
#include "ddns/dns_packet_win.h"
#include "ddns/dns_query.h"
#include "ddns/ip_address.h"
#include "platform/exchange_stop.h"
#include "platform/winsock_win.h"

namespace quarnel {
namespace {

// As the usual resolver configuration: three servers, two rounds, five seconds each.
constexpr std::size_t kMaximumServers = 3;
constexpr int kTries = 2;
constexpr int kTimeoutMs = 5000;
constexpr int kRcodeNoError = 0;
constexpr int kRcodeNameError = 3;

enum class Exchange { Answered, NoAnswer, Stopped };

class Socket {
  public:
    Socket()
        : socket_(::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                               WSA_FLAG_NO_HANDLE_INHERIT)) {}
    ~Socket() {
        if (socket_ != INVALID_SOCKET) {
            ::closesocket(socket_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET Get() const { return socket_; }

  private:
    SOCKET socket_;
};

// The servers the system's configuration names.
std::vector<ResolverAddress> SystemServers() {
    std::vector<ResolverAddress> servers;
    ULONG size = 0;
    if (::GetNetworkParams(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) {
        return servers;
    }
    std::vector<unsigned char> buffer(size);
    auto* params = reinterpret_cast<FIXED_INFO*>(buffer.data());
    if (::GetNetworkParams(params, &size) != ERROR_SUCCESS) {
        return servers;
    }
    for (const IP_ADDR_STRING* server = &params->DnsServerList; server != nullptr;
         server = server->Next) {
        ResolverAddress address;
        address.packed = ParseIPAddress(server->IpAddress.String);
        if (address.packed != 0) {
            servers.push_back(address);
        }
    }
    return servers;
}

// Whether a datagram answers the query: the same id, marked as a response, and the same question
// (the query's question section, name compared without regard to ASCII letter case).
bool AnswersQuestion(const std::vector<unsigned char>& query,
                     const std::vector<unsigned char>& answer, int length) {
    const std::size_t size = static_cast<std::size_t>(length);
    if (length < 12 || size < query.size() || answer[0] != query[0] || answer[1] != query[1] ||
        (answer[2] & 0x80) == 0 || answer[4] != 0 || answer[5] != 1) {
        return false;
    }
    for (std::size_t i = 12; i < query.size(); ++i) {
        unsigned char a = answer[i];
        unsigned char q = query[i];
        a = a >= 'A' && a <= 'Z' ? static_cast<unsigned char>(a + 32) : a;
        q = q >= 'A' && q <= 'Z' ? static_cast<unsigned char>(q + 32) : q;
        if (a != q) {
            return false;
        }
    }
    return true;
}

// Sends the query to one server and waits up to timeoutMs for its answer; a stop of the network
// exchanges ends the wait at once.
Exchange AskServer(const ResolverAddress& server, const std::vector<unsigned char>& query,
                   std::vector<unsigned char>& answer, int& length) {
    const Socket socket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port);
    address.sin_addr.s_addr = server.packed;
    const HANDLE readable = ::WSACreateEvent();
    if (socket.Get() == INVALID_SOCKET || readable == WSA_INVALID_EVENT) {
        if (readable != WSA_INVALID_EVENT) {
            ::WSACloseEvent(readable);
        }
        return Exchange::NoAnswer;
    }
    Exchange result = Exchange::NoAnswer;
    if (::WSAEventSelect(socket.Get(), readable, FD_READ) == 0 &&
        ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(socket.Get(), reinterpret_cast<const char*>(query.data()),
               static_cast<int>(query.size()), 0) == static_cast<int>(query.size())) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
        const HANDLE stop = reinterpret_cast<HANDLE>(NetworkStopHandle());
        while (true) {
            if (NetworkExchangesStopped()) {
                result = Exchange::Stopped;
                break;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) {
                break;
            }
            HANDLE events[2] = {readable, stop};
            const DWORD count = stop != reinterpret_cast<HANDLE>(kNoNativeHandle) ? 2 : 1;
            const DWORD waited =
                ::WaitForMultipleObjects(count, events, FALSE, static_cast<DWORD>(left));
            if (waited != WAIT_OBJECT_0) {
                continue;  // the stop (seen above) or the time (seen above)
            }
            ::WSAResetEvent(readable);
            const int got = ::recv(socket.Get(), reinterpret_cast<char*>(answer.data()),
                                   static_cast<int>(answer.size()), 0);
            // Only the answer to this query counts: same id, marked as a response, asking the
            // question asked (connected, the socket takes datagrams from that server only). A
            // refusal or a server failure lets the next server try.
            if (!AnswersQuestion(query, answer, got)) {
                continue;
            }
            const int rcode = answer[3] & 0x0F;
            if (rcode == kRcodeNoError || rcode == kRcodeNameError) {
                length = got;
                result = Exchange::Answered;
            }
            break;
        }
    }
    ::WSACloseEvent(readable);
    return result;
}

}  // namespace

DnsAnswer RunDnsQuery(std::string_view host, const std::vector<ResolverAddress>& servers) {
    if (host.empty() || !WinsockReady() || NetworkExchangesStopped()) {
        return {};
    }
    std::vector<ResolverAddress> asked;
    for (const ResolverAddress& server : servers.empty() ? SystemServers() : servers) {
        if (server.packed != 0 && asked.size() < kMaximumServers) {
            asked.push_back(server);
        }
    }
    static thread_local std::mt19937 generator{std::random_device{}()};
    const std::vector<unsigned char> query =
        BuildDnsQuery(host, static_cast<std::uint16_t>(generator()));
    if (asked.empty() || query.empty()) {
        return {};
    }
    std::vector<unsigned char> answer(65536);
    for (int attempt = 0; attempt < kTries; ++attempt) {
        for (const ResolverAddress& server : asked) {
            int length = 0;
            switch (AskServer(server, query, answer, length)) {
                case Exchange::Answered:
                    return ReadFirstDnsAnswer(answer.data(), static_cast<std::size_t>(length),
                                              host);
                case Exchange::Stopped:
                    return {};
                case Exchange::NoAnswer:
                    break;
            }
        }
    }
    return {};
}

}  // namespace quarnel
