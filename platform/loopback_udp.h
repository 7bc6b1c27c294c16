#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace quarnel
