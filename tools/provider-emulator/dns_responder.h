#pragma once

// A small DNS responder on a loopback port, over UDP and TCP, on the given IPv4 address and, on
// the same port, on ::1 when it can: answers every query for a configured name with the
// configured records in their order (so an answer can start with a CNAME or an AAAA record), and
// NXDOMAIN for names it does not know. An entry can also play a broken server or a forger
// (another class, owner or question; an answer cut short over UDP; a forged answer first from
// another port).

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

    // Binds the sockets (port 0: the kernel picks one); false on failure of the IPv4 ones.
    bool Bind(const std::string& address, int port);
    int Port() const { return port_; }
    // The port on ::1, or 0 when there is none.
    int Port6() const { return udp6_ >= 0 ? port_ : 0; }
    void Start();
    void Stop();

  private:
    void Serve();
    void AnswerDatagram(int socket);
    void AnswerStream(int listener);

    EmulatorState& state_;
    RequestLog& log_;
    int socket_ = -1;
    int tcp_ = -1;
    int udp6_ = -1;
    int tcp6_ = -1;
    int stopEvent_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// The answer to a query; empty when the query is not worth an answer. overTcp: the whole answer
// even for an entry that cuts its datagrams short. forged: the answer of its spoof address
// instead (empty when the entry has none).
std::string BuildDnsAnswer(const EmulatorState& state, const std::string& query,
                           std::string* askedName, unsigned* askedType, bool overTcp = false,
                           bool forged = false);

}  // namespace emulator
