#pragma once

// The Windows build's UdpListener (found before tests/support/udp_listener.h): a Winsock UDP
// socket bound to an ephemeral port of 127.0.0.1 that collects datagrams for a test.

#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quarnel::test {

class UdpListener {
  public:
    // The owner is a Linux test's choice of user; on Windows the socket is the test process's.
    explicit UdpListener(std::optional<unsigned> /*owner*/ = std::nullopt) {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int length = sizeof address;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        int size = 4 << 20;
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size),
                     sizeof size);
    }
    ~UdpListener() {
        ::closesocket(socket_);
        ::WSACleanup();
    }
    UdpListener(const UdpListener&) = delete;
    UdpListener& operator=(const UdpListener&) = delete;

    std::uint16_t Port() const { return port_; }

    // Collects datagrams until `count` arrived or timeoutMs passed without one.
    std::vector<std::vector<std::uint8_t>> Receive(std::size_t count, int timeoutMs = 2000) {
        std::vector<std::vector<std::uint8_t>> datagrams;
        std::vector<char> buffer(65536);
        while (datagrams.size() < count) {
            WSAPOLLFD poller{socket_, POLLRDNORM, 0};
            if (::WSAPoll(&poller, 1, timeoutMs) <= 0) {
                break;
            }
            const int got = ::recv(socket_, buffer.data(), static_cast<int>(buffer.size()), 0);
            if (got < 0) {
                break;
            }
            datagrams.emplace_back(buffer.begin(), buffer.begin() + got);
        }
        return datagrams;
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
};

}  // namespace quarnel::test
