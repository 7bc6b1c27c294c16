#pragma once

// A UDP socket bound to an ephemeral port of 127.0.0.1 that collects datagrams for a test. Made
// by a root test for another user, the socket belongs to that user (as the kernel's tables show).

#include <netinet/in.h>
#include <poll.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quarnel::test {

class UdpListener {
  public:
    explicit UdpListener(std::optional<uid_t> owner = std::nullopt) {
        if (owner) {
            (void)::setfsuid(*owner);  // the calling thread's only
        }
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (owner) {
            (void)::setfsuid(::geteuid());
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        int size = 4 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    ~UdpListener() { ::close(fd_); }
    UdpListener(const UdpListener&) = delete;
    UdpListener& operator=(const UdpListener&) = delete;

    std::uint16_t Port() const { return port_; }

    // Collects datagrams until `count` arrived or timeoutMs passed without one.
    std::vector<std::vector<std::uint8_t>> Receive(std::size_t count, int timeoutMs = 2000) {
        std::vector<std::vector<std::uint8_t>> datagrams;
        std::vector<std::uint8_t> buffer(65536);
        while (datagrams.size() < count) {
            pollfd poller{fd_, POLLIN, 0};
            if (::poll(&poller, 1, timeoutMs) <= 0) {
                break;
            }
            const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (got < 0) {
                break;
            }
            datagrams.emplace_back(buffer.begin(), buffer.begin() + got);
        }
        return datagrams;
    }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace quarnel::test
