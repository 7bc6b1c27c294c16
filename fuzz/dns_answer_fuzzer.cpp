// DNS answer packets: the first answer record of arbitrary bytes, and of well-formed answers
// whose address or alias comes from the input.

#include <arpa/nameser.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/dns_answer.h"
#include "ddns/ip_address.h"
#include "fuzz/fuzz_support.h"

namespace quarnel {
namespace {

void CheckAnswer(const std::vector<unsigned char>& packet, const DnsAnswer& answer) {
    switch (answer.kind) {
        case DnsAnswer::Kind::None:
            FUZZ_CHECK(answer.text.empty());
            break;
        case DnsAnswer::Kind::Address: {
            FUZZ_CHECK(IsValidIPAddress(answer.text));
            // The address's four bytes are in the packet.
            const std::uint32_t packed = ParseIPAddress(answer.text);
            const unsigned char bytes[4] = {
                static_cast<unsigned char>(packed), static_cast<unsigned char>(packed >> 8),
                static_cast<unsigned char>(packed >> 16), static_cast<unsigned char>(packed >> 24)};
            FUZZ_CHECK(std::search(packet.begin(), packet.end(), bytes, bytes + 4) != packet.end());
            break;
        }
        case DnsAnswer::Kind::Alias:
            FUZZ_CHECK(!answer.text.empty() && answer.text.size() < NS_MAXDNAME);
            FUZZ_CHECK(answer.text.find('\0') == std::string::npos);
            break;
    }
}

void Put16(std::vector<unsigned char>& out, unsigned value) {
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

// A name of letters, digits and hyphens from the input bytes, in labels of up to 20 characters;
// appends its wire form and returns its text.
std::string PutName(std::vector<unsigned char>& out, std::string_view bytes) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789-";
    std::string text;
    for (std::size_t at = 0; at < bytes.size() && text.size() < 200; at += 20) {
        const std::string_view label = bytes.substr(at, 20);
        out.push_back(static_cast<unsigned char>(label.size()));
        if (!text.empty()) {
            text += '.';
        }
        for (const char c : label) {
            const char mapped = kAlphabet[static_cast<unsigned char>(c) % 37];
            out.push_back(static_cast<unsigned char>(mapped));
            text += mapped;
        }
    }
    out.push_back(0);
    return text;
}

// A response to "A probe.test" whose first answer is an A record with the given address or a
// CNAME record to a name made of the given bytes.
std::vector<unsigned char> Response(bool alias, std::string_view bytes, std::string& expected) {
    std::vector<unsigned char> out;
    Put16(out, 0x1234);  // id
    Put16(out, 0x8180);  // response, recursion desired and available, no error
    Put16(out, 1);       // questions
    Put16(out, 2);       // answers
    Put16(out, 0);
    Put16(out, 0);
    out.insert(out.end(), {5, 'p', 'r', 'o', 'b', 'e', 4, 't', 'e', 's', 't', 0});
    Put16(out, ns_t_a);
    Put16(out, ns_c_in);
    for (int record = 0; record < 2; ++record) {
        Put16(out, 0xC00C);  // the question's name
        Put16(out, record == 0 && alias ? ns_t_cname : ns_t_a);
        Put16(out, ns_c_in);
        Put16(out, 0);
        Put16(out, 60);  // time to live
        if (record == 0 && alias) {
            std::vector<unsigned char> name;
            expected = PutName(name, bytes);
            Put16(out, static_cast<unsigned>(name.size()));
            out.insert(out.end(), name.begin(), name.end());
        } else {
            unsigned char address[4] = {198, 51, 100, 7};
            if (record == 0) {
                std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), 4), address);
                expected = FormatIPAddress(static_cast<std::uint32_t>(address[0]) |
                                           (static_cast<std::uint32_t>(address[1]) << 8) |
                                           (static_cast<std::uint32_t>(address[2]) << 16) |
                                           (static_cast<std::uint32_t>(address[3]) << 24));
            }
            Put16(out, 4);
            out.insert(out.end(), address, address + 4);
        }
    }
    return out;
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::vector<unsigned char> packet(data, data + size);
    CheckAnswer(packet, ReadFirstDnsAnswer(packet.data(), packet.size(), "probe.test"));
    FUZZ_CHECK(ReadFirstDnsAnswer(nullptr, 12, "probe.test").kind == DnsAnswer::Kind::None);

    // Every prefix of a packet is read without leaving it (the cut packet is a copy of exactly
    // that length, so a read past it is caught).
    if (size > 0) {
        const std::vector<unsigned char> cut(data, data + size / 2);
        CheckAnswer(cut, ReadFirstDnsAnswer(cut.data(), cut.size(), "probe.test"));
    }

    const std::string_view bytes = fuzz::AsText(data, size);
    if (!bytes.empty()) {
        std::string expected;
        const bool alias = (data[0] & 1) != 0;
        const std::vector<unsigned char> response =
            Response(alias, alias ? bytes.substr(1) : bytes, expected);
        const DnsAnswer answer =
            ReadFirstDnsAnswer(response.data(), response.size(), "PROBE.test.");
        // An alias to the root name reads as the resolver library writes that name.
        const std::string_view wanted =
            alias && expected.empty() ? std::string_view(".") : std::string_view(expected);
        FUZZ_CHECK(answer.kind == (alias ? DnsAnswer::Kind::Alias : DnsAnswer::Kind::Address));
        FUZZ_CHECK(answer.text == wanted);
    }
    return 0;
}
