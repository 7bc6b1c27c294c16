#pragma once

// A small DNS responder on a loopback UDP port: answers every query for a configured name with
// the configured records in their order (so an answer can start with a CNAME or an AAAA record),
// and NXDOMAIN for names it does not know.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "tools/provider-emulator/emulator_state.h"
#include "tools/provider-emulator/request_log.h"

namespace emulator {

class DnsResponder {
  public:
    DnsResponder(EmulatorState& state, RequestLog& log) : state_(state), log_(log) {}
    ~DnsResponder();
    DnsResponder(const DnsResponder&) = delete;
    DnsResponder& operator=(const DnsResponder&) = delete;

    // Binds the UDP socket (port 0: the kernel picks one); false on failure.
    bool Bind(const std::string& address, int port);
    int Port() const { return port_; }
    void Start();
    void Stop();

  private:
    void Serve();

    EmulatorState& state_;
    RequestLog& log_;
    int socket_ = -1;
    int stopEvent_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// The answer datagram for a query datagram; empty when the query is not worth an answer.
std::string BuildDnsAnswer(const EmulatorState& state, const std::string& query,
                           std::string* askedName, unsigned* askedType);

}  // namespace emulator
