// The DNS packets of the resolver's own exchange on Windows: the A query, and the first answer
// record of a response. Nothing in a response is trusted: every read stays inside the packet,
// and a name's compression pointers may only point backwards, so no loop can form.

#include "ddns/dns_packet_win.h"

#include <cstddef>
#include <string>

#include "ddns/dns_answer.h"
#include "platform/text.h"

namespace quarnel {
namespace {

constexpr std::size_t kHeaderLength = 12;
constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kTypeCname = 5;
constexpr std::uint16_t kClassIn = 1;
constexpr std::size_t kMaximumNameLength = 255;

std::uint16_t Read16(const unsigned char* at) {
    return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

// The name at offset, uncompressed into text (labels joined by "."); offset moves past the name
// as it stands there. False for anything malformed.
bool ReadName(const unsigned char* packet, std::size_t length, std::size_t& offset,
              std::string& name) {
    name.clear();
    std::size_t at = offset;
    bool jumped = false;
    std::size_t lowestJump = at;
    for (int labels = 0; labels < 128; ++labels) {
        if (at >= length) {
            return false;
        }
        const unsigned char size = packet[at];
        if ((size & 0xC0) == 0xC0) {
            if (at + 1 >= length) {
                return false;
            }
            const std::size_t target =
                static_cast<std::size_t>(((size & 0x3F) << 8) | packet[at + 1]);
            if (target >= lowestJump) {
                return false;  // only backwards, each jump further back than the last
            }
            if (!jumped) {
                offset = at + 2;
                jumped = true;
            }
            lowestJump = target;
            at = target;
            continue;
        }
        if ((size & 0xC0) != 0) {
            return false;
        }
        if (size == 0) {
            if (!jumped) {
                offset = at + 1;
            }
            return true;
        }
        if (at + 1 + size > length || name.size() + size + 1 > kMaximumNameLength) {
            return false;
        }
        if (!name.empty()) {
            name.push_back('.');
        }
        name.append(reinterpret_cast<const char*>(packet + at + 1), size);
        at += 1 + size;
    }
    return false;
}

}  // namespace

std::vector<unsigned char> BuildDnsQuery(std::string_view host, std::uint16_t id) {
    std::vector<unsigned char> query = {static_cast<unsigned char>(id >> 8),
                                        static_cast<unsigned char>(id & 0xFF),
                                        0x01,  // a standard query, recursion desired
                                        0x00,
                                        0x00,
                                        0x01,
                                        0x00,
                                        0x00,
                                        0x00,
                                        0x00,
                                        0x00,
                                        0x00};
    if (!host.empty() && host.back() == '.') {
        host.remove_suffix(1);
    }
    if (host.empty() || host.size() > kMaximumNameLength - 2) {
        return {};
    }
    std::size_t start = 0;
    while (start <= host.size()) {
        const std::size_t dot = host.find('.', start);
        const std::size_t end = dot == std::string_view::npos ? host.size() : dot;
        const std::size_t size = end - start;
        if (size == 0 || size > 63) {
            return {};
        }
        query.push_back(static_cast<unsigned char>(size));
        query.insert(query.end(), host.begin() + static_cast<std::ptrdiff_t>(start),
                     host.begin() + static_cast<std::ptrdiff_t>(end));
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    query.insert(query.end(), {0x00, 0x00, kTypeA, 0x00, kClassIn});
    return query;
}

// The Linux build's copy lives with its packet reader in the helper (ddns/dns_answer.cpp).
bool SameDnsName(std::string_view a, std::string_view b) {
    const auto trimmed = [](std::string_view name) {
        return name.ends_with('.') ? name.substr(0, name.size() - 1) : name;
    };
    return ToLowerAscii(trimmed(a)) == ToLowerAscii(trimmed(b));
}

DnsAnswer ReadFirstDnsAnswer(const unsigned char* packet, std::size_t length,
                             std::string_view name) {
    DnsAnswer answer;
    if (packet == nullptr || length < kHeaderLength) {
        return answer;
    }
    const std::uint16_t questions = Read16(packet + 4);
    const std::uint16_t answers = Read16(packet + 6);
    if (answers == 0) {
        return answer;
    }
    std::size_t offset = kHeaderLength;
    std::string question;
    for (std::uint16_t i = 0; i < questions; ++i) {
        if (!ReadName(packet, length, offset, question) || offset + 4 > length) {
            return answer;
        }
        offset += 4;
    }
    std::string owner;
    if (!ReadName(packet, length, offset, owner) || offset + 10 > length ||
        Read16(packet + offset + 2) != kClassIn || !SameDnsName(owner, name)) {
        return answer;
    }
    const std::uint16_t type = Read16(packet + offset);
    const std::uint16_t dataLength = Read16(packet + offset + 8);
    const std::size_t data = offset + 10;
    if (data + dataLength > length) {
        return answer;
    }
    if (type == kTypeA && dataLength == 4) {
        answer.kind = DnsAnswer::Kind::Address;
        answer.text = std::to_string(packet[data]) + "." + std::to_string(packet[data + 1]) + "." +
                      std::to_string(packet[data + 2]) + "." + std::to_string(packet[data + 3]);
    } else if (type == kTypeCname) {
        std::size_t at = data;
        std::string target;
        // The target must lie inside the record's own data.
        if (ReadName(packet, data + dataLength, at, target) && !target.empty()) {
            answer.kind = DnsAnswer::Kind::Alias;
            answer.text = target;
        }
    }
    return answer;
}

}  // namespace quarnel
