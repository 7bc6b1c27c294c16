#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/instance.h"
#include "platform/paths.h"

namespace quarnel {
namespace {

// An abstract address: a leading zero byte, then the name without terminator.
bool AbstractAddress(const std::string& name, sockaddr_un& address, socklen_t& length) {
    if (name.empty() || name.size() + 1 > sizeof address.sun_path) {
        return false;
    }
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return true;
}

// The wire form of a code: four bytes, little-endian.
constexpr std::size_t kCodeSize = 4;

}  // namespace

std::string InstanceEndpointName(std::string_view guidText, std::optional<std::uint32_t> userId) {
    std::string name = "quarnel-updater";
    const std::string tag = SocketNamespaceTag();
    if (!tag.empty()) {
        name += "." + tag;
    }
    name += "/";
    name += guidText;
    if (userId) {
        name += "/" + std::to_string(*userId);
    }
    return name;
}

InstanceBind BindInstanceEndpoint(const std::string& name, UniqueFd& endpoint) {
    sockaddr_un address{};
    socklen_t length = 0;
    if (!AbstractAddress(name, address, length)) {
        return InstanceBind::Failed;
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        return InstanceBind::Failed;
    }
    // Set before binding, so that no datagram can be queued without its sender's credentials.
    const int on = 1;
    if (::setsockopt(fd.Get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        return InstanceBind::Failed;
    }
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return errno == EADDRINUSE ? InstanceBind::AlreadyBound : InstanceBind::Failed;
    }
    endpoint = std::move(fd);
    return InstanceBind::Bound;
}

InstanceReceive ReceiveInstanceCode(int endpoint, std::uint32_t listeningUser, std::int32_t& code) {
    std::uint8_t data[kCodeSize + 1];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec vector{data, sizeof data};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = ::recvmsg(endpoint, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return InstanceReceive::Nothing;
    }
    const ucred* sender = nullptr;
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr;
         item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SCM_CREDENTIALS &&
            item->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            sender = reinterpret_cast<const ucred*>(CMSG_DATA(item));
        }
    }
    if (sender == nullptr || got != static_cast<ssize_t>(kCodeSize) ||
        (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
        return InstanceReceive::Refused;
    }
    const std::uint32_t uid = sender->uid;
    if (uid != 0 && uid != ::geteuid() && uid != listeningUser) {
        return InstanceReceive::Refused;
    }
    code = static_cast<std::int32_t>(static_cast<std::uint32_t>(data[0]) | (data[1] << 8) |
                                     (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24));
    return InstanceReceive::Code;
}

UniqueFd CreateInstanceSender() {
    return UniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

bool SendInstanceCode(int sender, const std::string& name, std::int32_t code) {
    sockaddr_un address{};
    socklen_t length = 0;
    if (!AbstractAddress(name, address, length)) {
        return false;
    }
    const auto value = static_cast<std::uint32_t>(code);
    const std::uint8_t data[kCodeSize] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    ssize_t sent;
    do {
        sent = ::sendto(sender, data, sizeof data, MSG_DONTWAIT | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), length);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof data);
}

}  // namespace quarnel
