#include "tools/provider-emulator/dns_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <optional>

namespace emulator {
namespace {

constexpr std::uint32_t kTtl = 60;

void PutU16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
    out.push_back(static_cast<char>(value & 0xFF));
}

void PutU32(std::string& out, std::uint32_t value) {
    PutU16(out, value >> 16);
    PutU16(out, value & 0xFFFF);
}

// Wire form of a dotted name; false when a label is empty or longer than 63 bytes.
bool EncodeName(const std::string& name, std::string& out) {
    std::size_t start = 0;
    std::string text = name;
    while (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    while (start < text.size()) {
        std::size_t end = text.find('.', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::size_t length = end - start;
        if (length == 0 || length > 63) {
            return false;
        }
        out.push_back(static_cast<char>(length));
        out.append(text, start, length);
        start = end + 1;
    }
    out.push_back('\0');
    return true;
}

// Reads the question's name (no compression in questions); returns the offset after it or 0.
std::size_t ReadQuestionName(const std::string& query, std::size_t offset, std::string& name) {
    while (offset < query.size()) {
        const auto length = static_cast<unsigned char>(query[offset]);
        if (length == 0) {
            return offset + 1;
        }
        if (length > 63 || offset + 1 + length > query.size()) {
            return 0;
        }
        if (!name.empty()) {
            name.push_back('.');
        }
        name.append(query, offset + 1, length);
        offset += 1 + length;
    }
    return 0;
}

}  // namespace

std::string BuildDnsAnswer(const EmulatorState& state, const std::string& query,
                           std::string* askedName, unsigned* askedType, bool overTcp, bool forged) {
    if (query.size() < 12 || (static_cast<unsigned char>(query[2]) & 0x80) != 0) {
        return {};
    }
    const unsigned questions =
        (static_cast<unsigned char>(query[4]) << 8) | static_cast<unsigned char>(query[5]);
    if (questions != 1) {
        return {};
    }
    std::string name;
    const std::size_t nameEnd = ReadQuestionName(query, 12, name);
    if (nameEnd == 0 || nameEnd + 4 > query.size()) {
        return {};
    }
    const unsigned type = (static_cast<unsigned char>(query[nameEnd]) << 8) |
                          static_cast<unsigned char>(query[nameEnd + 1]);
    if (askedName)
        *askedName = name;
    if (askedType)
        *askedType = type;

    std::optional<DnsEntry> entry = state.FindDnsEntry(name);
    std::uint16_t recordClass = 1;  // IN
    std::string owner;              // empty: the question's name, by pointer
    std::string question;           // empty: the question asked
    if (forged) {
        if (!entry || entry->forge.empty()) {
            return {};
        }
        const std::string forge = entry->forge;
        recordClass = forge == "class" ? 3 : 1;  // CH
        owner = forge == "owner" ? "forged.invalid" : "";
        question = forge == "question" ? "forged.invalid" : "";
        DnsEntry forgery;
        forgery.answer = {DnsRecord{1, entry->spoof}};
        entry = forgery;
    }
    const int rcode = entry ? entry->rcode : 3;
    const bool cut = entry && entry->truncate && !overTcp;
    std::string answers;
    unsigned count = 0;
    if (entry && rcode == 0 && !cut) {
        for (const DnsRecord& record : entry->answer) {
            if (owner.empty()) {
                PutU16(answers, 0xC00C);
            } else if (!EncodeName(owner, answers)) {
                return {};
            }
            PutU16(answers, record.type);
            PutU16(answers, recordClass);
            PutU32(answers, kTtl);
            std::string data;
            if (record.type == 1) {
                in_addr address{};
                inet_pton(AF_INET, record.data.c_str(), &address);
                data.assign(reinterpret_cast<const char*>(&address), 4);
            } else if (record.type == 28) {
                in6_addr address{};
                inet_pton(AF_INET6, record.data.c_str(), &address);
                data.assign(reinterpret_cast<const char*>(&address), 16);
            } else if (!EncodeName(record.data, data)) {
                return {};
            }
            PutU16(answers, static_cast<unsigned>(data.size()));
            answers += data;
            ++count;
            // Records after an alias belong to its target, as in a resolver's answer.
            if (record.type == 5) {
                owner = record.data;
            }
        }
    }
    std::string reply = query.substr(0, 2);
    // QR, the query's opcode and RD, AA, TC when cut; RA; rcode.
    reply.push_back(static_cast<char>(0x84 | (cut ? 0x02 : 0) | (query[2] & 0x79)));
    reply.push_back(static_cast<char>(0x80 | rcode));
    PutU16(reply, 1);
    PutU16(reply, count);
    PutU16(reply, 0);
    PutU16(reply, 0);
    if (!question.empty()) {
        // Another question than the one asked; the records then point at it.
        if (!EncodeName(question, reply)) {
            return {};
        }
        reply.append(query, nameEnd, 4);
        reply += answers;
        return reply;
    }
    reply.append(query, 12, nameEnd + 4 - 12);
    reply += answers;
    return reply;
}

DnsResponder::~DnsResponder() {
    Stop();
    for (const int fd : {socket_, tcp_, udp6_, tcp6_, stopEvent_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

namespace {

int BoundSocket(int family, int type, const std::string& address, int port) {
    const int fd = ::socket(family, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    bool bound = false;
    if (family == AF_INET) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<std::uint16_t>(port));
        bound = inet_pton(AF_INET, address.c_str(), &local.sin_addr) == 1 &&
                ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    } else {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_port = htons(static_cast<std::uint16_t>(port));
        local.sin6_addr = in6addr_loopback;
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    if (!bound || (type == SOCK_STREAM && ::listen(fd, 16) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool DnsResponder::Bind(const std::string& address, int port) {
    stopEvent_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopEvent_ < 0) {
        return false;
    }
    // Port 0 asks for any free port, but "free" is per protocol: the UDP port the kernel picks
    // may be held by a TCP connection of another program. Try fresh UDP ports until TCP takes
    // the same number too (bounded: a handful of tries is plenty even on a busy machine).
    const int tries = port == 0 ? 100 : 1;
    for (int attempt = 0; attempt < tries && tcp_ < 0; ++attempt) {
        if (socket_ >= 0) {
            ::close(socket_);
        }
        socket_ = BoundSocket(AF_INET, SOCK_DGRAM, address, port);
        if (socket_ < 0) {
            return false;
        }
        sockaddr_in local{};
        socklen_t length = sizeof local;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
        tcp_ = BoundSocket(AF_INET, SOCK_STREAM, address, port_);
    }
    if (tcp_ < 0) {
        return false;
    }
    udp6_ = BoundSocket(AF_INET6, SOCK_DGRAM, address, port_);
    tcp6_ = udp6_ >= 0 ? BoundSocket(AF_INET6, SOCK_STREAM, address, port_) : -1;
    return true;
}

void DnsResponder::Start() {
    thread_ = std::thread([this] { Serve(); });
}

void DnsResponder::Stop() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopEvent_, &one, sizeof one);
        thread_.join();
    }
}

void DnsResponder::AnswerDatagram(int socket) {
    char buffer[4096];
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    const ssize_t got = ::recvfrom(socket, buffer, sizeof buffer, 0,
                                   reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (got <= 0) {
        return;
    }
    const std::string query(buffer, static_cast<std::size_t>(got));
    std::string name;
    unsigned type = 0;
    std::string reply = BuildDnsAnswer(state_, query, &name, &type);
    if (!name.empty() || type != 0) {
        log_.AddDns(name, type);
    }
    // The forger knows the query's id and port; only from another port can it send without
    // being the server.
    if (const std::string forged = BuildDnsAnswer(state_, query, nullptr, nullptr, false, true);
        !forged.empty()) {
        const std::optional<DnsEntry> entry = state_.FindDnsEntry(name);
        const bool elsewhere = entry && entry->forge == "port";
        const int other =
            elsewhere ? ::socket(peer.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0) : socket;
        if (other >= 0) {
            ::sendto(other, forged.data(), forged.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                     peerLength);
        }
        if (elsewhere && other >= 0) {
            ::close(other);
        }
        if (entry && (entry->forge == "class" || entry->forge == "owner")) {
            reply.clear();
        }
    }
    if (!reply.empty()) {
        ::sendto(socket, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                 peerLength);
    }
}

void DnsResponder::AnswerStream(int listener) {
    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
        return;
    }
    const timeval limit{2, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    unsigned char size[2];
    std::string query;
    if (::recv(connection, size, 2, MSG_WAITALL) == 2) {
        query.resize((static_cast<std::size_t>(size[0]) << 8) | size[1]);
        if (::recv(connection, query.data(), query.size(), MSG_WAITALL) !=
            static_cast<ssize_t>(query.size())) {
            query.clear();
        }
    }
    std::string name;
    unsigned type = 0;
    const std::string reply =
        query.empty() ? std::string() : BuildDnsAnswer(state_, query, &name, &type, true);
    if (!name.empty() || type != 0) {
        log_.AddDns(name, type);
    }
    if (!reply.empty()) {
        std::string framed;
        PutU16(framed, static_cast<unsigned>(reply.size()));
        framed += reply;
        ::send(connection, framed.data(), framed.size(), MSG_NOSIGNAL);
    }
    ::close(connection);
}

void DnsResponder::Serve() {
    while (true) {
        pollfd waits[5] = {{stopEvent_, POLLIN, 0},
                           {socket_, POLLIN, 0},
                           {tcp_, POLLIN, 0},
                           {udp6_, POLLIN, 0},
                           {tcp6_, POLLIN, 0}};
        if (::poll(waits, 5, -1) < 0) {
            continue;
        }
        if (waits[0].revents != 0) {
            return;
        }
        for (int i = 1; i < 5; ++i) {
            if ((waits[i].revents & POLLIN) == 0) {
                continue;
            }
            if (i % 2 == 1) {
                AnswerDatagram(waits[i].fd);
            } else {
                AnswerStream(waits[i].fd);
            }
        }
    }
}

}  // namespace emulator
