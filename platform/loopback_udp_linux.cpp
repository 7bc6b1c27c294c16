#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/loopback_udp.h"
#include "platform/unique_fd.h"

namespace quarnel {

LoopbackDatagramSender::LoopbackDatagramSender(std::uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return;
    }
    socket_ = IntoHandle(std::move(fd));
}

LoopbackDatagramSender::~LoopbackDatagramSender() = default;

void LoopbackDatagramSender::Send(const void* data, std::size_t size) const {
    if (socket_.Valid()) {
        // MSG_NOSIGNAL is irrelevant for UDP but harmless; errors (no listener) are ignored.
        (void)::send(DescriptorOf(socket_.Get()), data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
}

}  // namespace quarnel
