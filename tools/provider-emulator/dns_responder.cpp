#include "tools/provider-emulator/dns_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
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
                           std::string* askedName, unsigned* askedType) {
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

    const std::optional<DnsEntry> entry = state.FindDnsEntry(name);
    const int rcode = entry ? entry->rcode : 3;
    std::string answers;
    unsigned count = 0;
    if (entry && rcode == 0) {
        std::string owner;  // empty: the question's name, by pointer
        for (const DnsRecord& record : entry->answer) {
            if (owner.empty()) {
                PutU16(answers, 0xC00C);
            } else if (!EncodeName(owner, answers)) {
                return {};
            }
            PutU16(answers, record.type);
            PutU16(answers, 1);
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
    // QR, the query's opcode and RD, AA; RA; rcode.
    reply.push_back(static_cast<char>(0x84 | (query[2] & 0x79)));
    reply.push_back(static_cast<char>(0x80 | rcode));
    PutU16(reply, 1);
    PutU16(reply, count);
    PutU16(reply, 0);
    PutU16(reply, 0);
    reply.append(query, 12, nameEnd + 4 - 12);
    reply += answers;
    return reply;
}

DnsResponder::~DnsResponder() {
    Stop();
    if (socket_ >= 0)
        ::close(socket_);
    if (stopEvent_ >= 0)
        ::close(stopEvent_);
}

bool DnsResponder::Bind(const std::string& address, int port) {
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    stopEvent_ = ::eventfd(0, EFD_CLOEXEC);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (socket_ < 0 || stopEvent_ < 0 ||
        inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
        ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        return false;
    }
    socklen_t length = sizeof local;
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
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

void DnsResponder::Serve() {
    char buffer[4096];
    while (true) {
        pollfd waits[2] = {{socket_, POLLIN, 0}, {stopEvent_, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            continue;
        }
        if (waits[1].revents != 0) {
            return;
        }
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        const ssize_t got = ::recvfrom(socket_, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (got <= 0) {
            continue;
        }
        std::string name;
        unsigned type = 0;
        const std::string reply = BuildDnsAnswer(
            state_, std::string(buffer, static_cast<std::size_t>(got)), &name, &type);
        if (!name.empty() || type != 0) {
            log_.AddDns(name, type);
        }
        if (!reply.empty()) {
            ::sendto(socket_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                     peerLength);
        }
    }
}

}  // namespace emulator
