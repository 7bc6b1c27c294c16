#include "platform/rtnetlink_socket_linux.h"

#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/unique_fd.h"

namespace quarnel {

UniqueFd OpenRouteSocket(std::initializer_list<unsigned> groups) {
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (!fd) {
        return fd;
    }
    // A burst of changes (an interface with many addresses going away) must not overrun the
    // queue before the waiter reads it.
    const int bufferSize = 1 << 20;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        return UniqueFd();
    }
    for (const unsigned group : groups) {
        if (::setsockopt(fd.Get(), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) !=
            0) {
            return UniqueFd();
        }
    }
    return fd;
}

std::uint32_t RoutePortOf(int fd) {
    sockaddr_nl local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return local.nl_pid;
}

bool SendDumpRequest(int fd, std::uint16_t type, std::uint8_t family, std::uint32_t sequence) {
    struct {
        nlmsghdr header;
        rtgenmsg body;
        char padding[3];
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtgenmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    request.body.rtgen_family = family;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    while (true) {
        const ssize_t sent = ::sendto(fd, &request, request.header.nlmsg_len, 0,
                                      reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
        if (sent >= 0) {
            return static_cast<std::size_t>(sent) == request.header.nlmsg_len;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd poller{fd, POLLIN, 0};
    while (true) {
        const int ready = ::poll(&poller, 1, timeoutMs);
        if (ready >= 0) {
            return ready > 0 && (poller.revents & POLLIN) != 0;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

}  // namespace quarnel
