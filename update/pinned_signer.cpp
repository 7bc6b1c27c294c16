#include "update/pinned_signer.h"

#include <cstddef>

namespace quarnel {
namespace embedded {
struct Entry {
    const char* name;
    const std::uint8_t* data;
    std::size_t size;
};
extern const Entry kSigningCertificate[];
extern const std::size_t kSigningCertificateCount;
}  // namespace embedded

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

}  // namespace

std::string_view PinnedCertificate() {
    if (embedded::kSigningCertificateCount == 0) {
        return {};
    }
    const embedded::Entry& entry = embedded::kSigningCertificate[0];
    return {reinterpret_cast<const char*>(entry.data), entry.size};
}

std::vector<std::uint8_t> CertificateDerFromPem(std::string_view pem) {
    constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    const std::size_t begin = pem.find(kBegin);
    const std::size_t end = begin == std::string_view::npos ? begin : pem.find(kEnd, begin);
    if (end == std::string_view::npos) {
        return {};
    }
    const std::string_view body = pem.substr(begin + kBegin.size(), end - begin - kBegin.size());
    std::vector<std::uint8_t> der;
    std::uint32_t bits = 0;
    int count = 0;
    std::size_t padding = 0;
    for (const char c : body) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') {
            continue;
        }
        if (c == '=') {
            ++padding;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0 || padding > 0) {
            return {};  // a character outside the alphabet, or data after the padding
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            der.push_back(static_cast<std::uint8_t>(bits >> 16));
            der.push_back(static_cast<std::uint8_t>(bits >> 8));
            der.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1 || padding > 2 || (count != 0 && count + padding != 4) ||
        (count == 0 && padding != 0)) {
        return {};
    }
    if (count == 2) {
        der.push_back(static_cast<std::uint8_t>(bits >> 4));
    } else if (count == 3) {
        der.push_back(static_cast<std::uint8_t>(bits >> 10));
        der.push_back(static_cast<std::uint8_t>(bits >> 2));
    }
    return der;
}

bool IsPinnedSigner(std::string_view pinnedPem, const std::vector<std::uint8_t>& signerDer) {
    const std::vector<std::uint8_t> pinned = CertificateDerFromPem(pinnedPem);
    return !pinned.empty() && pinned == signerDer;
}

}  // namespace quarnel
