#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/native_handle.h"

namespace quarnel {

// A UDP endpoint that sends to one port of 127.0.0.1. Nothing waits for a receiver.
class LoopbackDatagramSender {
  public:
    // Opens the endpoint; Valid() tells whether that worked.
    explicit LoopbackDatagramSender(std::uint16_t port);
    ~LoopbackDatagramSender();
    bool Valid() const { return socket_.Valid(); }
    // Sends one datagram; the result is ignored by design (a missing listener is normal).
    void Send(const void* data, std::size_t size) const;

  private:
    UniqueHandle socket_;
};

// The users owning the UDP sockets bound to that port, on any address (IPv4 and IPv6), in this
// process's network namespace (/proc/net/udp and udp6): whoever may receive what is sent to the
// port. Empty when none is bound or the tables cannot be read.
std::vector<std::uint32_t> UdpPortOwners(std::uint16_t port);

}  // namespace quarnel
