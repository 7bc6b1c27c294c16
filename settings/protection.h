#pragma once

// Password protection: the stored password is enciphered with AES-256 (CBC with ciphertext
// stealing in the CS2 arrangement) under a key derived from a text of the machine, so every
// process of the program on this machine reads it back while a copy elsewhere deciphers to a
// wrong text. There is no integrity check: wrong key material gives a wrong text, not an error.
//
// Key material is UTF-8 here and is hashed as its UTF-16LE code units. Buffers are byte vectors;
// an empty vector stands for "none".

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_store.h"

namespace quarnel {

inline constexpr std::size_t kProtectionBlockLength = 32;

// 33 bytes: the MD5 digest of the key material's UTF-16LE units as 32 lower-case hexadecimal
// ASCII digits, then a zero byte.
std::vector<std::uint8_t> DeriveKeyText(std::string_view keyMaterial);
// 32 bytes derived from the key text (at least 32 bytes) and the fixed derivation table; the
// first 16 are the initialisation vector. Empty when the key text is too short.
std::vector<std::uint8_t> DeriveIv(const std::vector<std::uint8_t>& keyText);

// A buffer shorter than blockLength is filled up to it with bytes of the value
// blockLength - length; a longer one stays as it is.
void AddPadding(std::vector<std::uint8_t>& buffer, std::size_t blockLength = 32);
// Only a buffer of exactly blockLength bytes loses its padding, and only when the run of equal
// bytes at its end starts exactly where that byte's value says the padding starts. Data whose
// own last bytes look like padding cannot be told apart; terminated text never does.
void RemovePadding(std::vector<std::uint8_t>& buffer, std::size_t blockLength = 32);

// The padded data enciphered (the ciphertext is as long as the padded data); empty for empty
// data or a cipher failure.
std::vector<std::uint8_t> EncryptBuffer(const std::vector<std::uint8_t>& data,
                                        std::string_view keyMaterial);
// The deciphered bytes with the padding removed; empty when data is shorter than one AES block
// or the cipher fails.
std::vector<std::uint8_t> DecryptBuffer(const std::vector<std::uint8_t>& data,
                                        std::string_view keyMaterial);

// The last successful decipherment is kept in the process, keyed by the exact protected bytes
// and the key material, so reading the same stored value again starts no helper; a failure is
// not kept. ForgetDecipheredText drops (and wipes) what is kept.
void ForgetDecipheredText();

// 1 when the protected form of data was written (into an existing key), else 0.
int WriteProtectedBinary(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                         const std::vector<std::uint8_t>& data, std::string_view keyMaterial,
                         std::string_view machine = {});
std::vector<std::uint8_t> ReadProtectedBinary(RegistryHive hive, std::string_view keyPath,
                                              std::string_view valueName,
                                              std::string_view keyMaterial,
                                              std::string_view machine = {});
// The password is protected as its UTF-16LE units and a terminator, so an empty password is
// stored too.
int WriteProtectedPassword(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                           std::string_view password, std::string_view keyMaterial,
                           std::string_view machine = {});
// The text up to the first zero unit; the empty text when nothing can be read.
std::string ReadProtectedPassword(RegistryHive hive, std::string_view keyPath,
                                  std::string_view valueName, std::string_view keyMaterial,
                                  std::string_view machine = {});

}  // namespace quarnel
