#include <winsock2.h>
// In this order: the IP helper's headers need Winsock's and windows.h.
#include <iphlpapi.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

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

// The owner of a socket is its process's account, numbered as CurrentUserId numbers them: 0 for
// the system account, 1 for any other (and for a process this one may not look at).
std::vector<std::uint32_t> UdpPortOwners(std::uint16_t port) {
    std::vector<std::uint32_t> owners;
    for (const ULONG family : {AF_INET, AF_INET6}) {
        ULONG size = 0;
        if (::GetExtendedUdpTable(nullptr, &size, FALSE, family, UDP_TABLE_OWNER_PID, 0) !=
                ERROR_INSUFFICIENT_BUFFER ||
            size == 0) {
            continue;
        }
        std::vector<unsigned char> buffer(size);
        if (::GetExtendedUdpTable(buffer.data(), &size, FALSE, family, UDP_TABLE_OWNER_PID, 0) !=
            NO_ERROR) {
            continue;
        }
        std::vector<DWORD> processes;
        if (family == AF_INET) {
            const auto* table = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(buffer.data());
            for (DWORD i = 0; i < table->dwNumEntries; ++i) {
                if (ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port) {
                    processes.push_back(table->table[i].dwOwningPid);
                }
            }
        } else {
            const auto* table = reinterpret_cast<const MIB_UDP6TABLE_OWNER_PID*>(buffer.data());
            for (DWORD i = 0; i < table->dwNumEntries; ++i) {
                if (ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port) {
                    processes.push_back(table->table[i].dwOwningPid);
                }
            }
        }
        for (const DWORD process : processes) {
            std::uint32_t owner = 1;
            const HANDLE handle = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
            HANDLE token = nullptr;
            if (handle != nullptr && ::OpenProcessToken(handle, TOKEN_QUERY, &token)) {
                alignas(TOKEN_USER) unsigned char user[256];
                DWORD length = 0;
                if (::GetTokenInformation(token, TokenUser, user, sizeof user, &length) &&
                    ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid,
                                     WinLocalSystemSid)) {
                    owner = 0;
                }
                ::CloseHandle(token);
            }
            if (handle != nullptr) {
                ::CloseHandle(handle);
            }
            owners.push_back(owner);
        }
    }
    return owners;
}

}  // namespace quarnel
