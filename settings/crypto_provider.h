#pragma once

// The cryptographic operations of the password protection and the identity digests: on Linux
// they run in the helper process (OpenSSL there; the program maps no cryptographic library), on
// Windows through the system's CNG. Every result is empty on failure.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quarnel {

inline constexpr std::size_t kMd5Length = 16;
inline constexpr std::size_t kSha1Length = 20;

// AES-256 in CBC mode with ciphertext stealing (CS2 arrangement) over at least one block; the
// key is 32 bytes, the initialisation vector 16. The request may hold key and plain-text bytes:
// nothing of it is left behind in memory that this layer owns.
std::vector<std::uint8_t> CipherAes256Cs2(const std::vector<std::uint8_t>& input,
                                          const std::vector<std::uint8_t>& key,
                                          const std::vector<std::uint8_t>& iv, bool encrypt);
std::vector<std::uint8_t> DigestMd5(std::string_view bytes);
std::vector<std::uint8_t> DigestSha1(std::string_view bytes);

}  // namespace quarnel
