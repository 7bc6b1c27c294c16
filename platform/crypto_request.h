#pragma once

// The request bytes of the helper's cryptographic operations (helper/crypto_operations.h), shared
// by the program that asks and the helper that answers. Header-only, so the helper links none of
// the program's libraries.
//
// Requests, by operation:
//   Encrypt, Decrypt   three fields: the key (32 bytes), the initialisation vector (16 bytes) and
//                      the data (at least 16 bytes)
//   Md5, Sha1          the bytes to digest, as they are (no field framing)
//   VerifySignature    the certificate (PEM) that must have made the signature, as it is; the
//                      content and the detached signature are handed over as open descriptors
// A field is its length as four bytes, least significant first, followed by its bytes. A request
// is exactly its fields, nothing before, between or after them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

inline constexpr std::size_t kCipherKeyLength = 32;
inline constexpr std::size_t kCipherIvLength = 16;
inline constexpr std::size_t kCipherBlockLength = 16;
inline constexpr std::size_t kCipherRequestFields = 3;

// Appends one field to request.
inline void AppendRequestField(std::string& request, std::string_view field) {
    const auto length = static_cast<std::uint32_t>(field.size());
    for (int shift = 0; shift < 32; shift += 8) {
        request.push_back(static_cast<char>((length >> shift) & 0xFF));
    }
    request.append(field);
}

// The fields of request (views into it), or nothing unless it is exactly count fields.
inline std::optional<std::vector<std::string_view>> SplitRequestFields(std::string_view request,
                                                                       std::size_t count) {
    std::vector<std::string_view> fields;
    while (fields.size() < count) {
        if (request.size() < 4) {
            return std::nullopt;
        }
        std::uint32_t length = 0;
        for (int i = 3; i >= 0; --i) {
            length =
                (length << 8) | static_cast<unsigned char>(request[static_cast<std::size_t>(i)]);
        }
        request.remove_prefix(4);
        if (length > request.size()) {
            return std::nullopt;
        }
        fields.push_back(request.substr(0, length));
        request.remove_prefix(length);
    }
    if (!request.empty()) {
        return std::nullopt;
    }
    return fields;
}

// The answer of VerifySignature: one of these two bytes.
inline constexpr char kSignatureVerified = '1';
inline constexpr char kSignatureNotVerified = '0';

}  // namespace quarnel
