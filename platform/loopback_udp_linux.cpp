#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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

std::vector<std::uint32_t> UdpPortOwners(std::uint16_t port) {
    std::vector<std::uint32_t> owners;
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream lines(table);
        std::string line;
        std::getline(lines, line);  // the column names
        // Bounded: a table has a line per socket of the namespace.
        for (int count = 0; count < 1000000 && std::getline(lines, line); ++count) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits;
            std::uint32_t uid = 0;
            if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >>
                  uid)) {
                continue;
            }
            const std::size_t colon = local.rfind(':');
            if (colon == std::string::npos) {
                continue;
            }
            const char* digits = local.c_str() + colon + 1;
            char* end = nullptr;
            const unsigned long bound = std::strtoul(digits, &end, 16);
            if (end != digits && *end == '\0' && bound == port) {
                owners.push_back(uid);
            }
        }
    }
    return owners;
}

void LoopbackDatagramSender::Send(const void* data, std::size_t size) const {
    if (socket_.Valid()) {
        // MSG_NOSIGNAL is irrelevant for UDP but harmless; errors (no listener) are ignored.
        (void)::send(DescriptorOf(socket_.Get()), data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
}

}  // namespace quarnel
