#include <winsock2.h>
// After winsock2.h, which must come before windows.h.
#include <windows.h>

#include "platform/loopback_udp.h"
#include "platform/winsock_win.h"

namespace quarnel {

LoopbackDatagramSender::LoopbackDatagramSender(std::uint16_t port) {
    if (!WinsockReady()) {
        return;
    }
    const SOCKET s =
        ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    u_long nonblocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonblocking) != 0 ||
        ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(s);
        return;
    }
    socket_ = UniqueHandle(static_cast<NativeHandle>(s));
}

// A socket is closed by closesocket, never by CloseHandle.
LoopbackDatagramSender::~LoopbackDatagramSender() {
    if (socket_.Valid()) {
        ::closesocket(static_cast<SOCKET>(socket_.Release()));
    }
}

void LoopbackDatagramSender::Send(const void* data, std::size_t size) const {
    if (socket_.Valid()) {
        // Errors (no listener: a port-unreachable report) are ignored by design.
        (void)::send(static_cast<SOCKET>(socket_.Get()), static_cast<const char*>(data),
                     static_cast<int>(size), 0);
    }
}

}  // namespace quarnel
