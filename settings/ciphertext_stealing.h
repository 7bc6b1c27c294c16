#pragma once

// The CS2 arrangement of ciphertext stealing over a block cipher in CBC mode: whole blocks are
// plain CBC; a final partial block is enciphered as if padded with zeros, and the output holds the
// last whole cipher block first and the stolen partial one after it. Any CBC implementation of
// 16-byte blocks serves (the system's, where it offers no stealing itself).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quarnel {

inline constexpr std::size_t kCs2BlockLength = 16;

// CBC over whole blocks (size a multiple of 16) from iv, into out (the same size); false on
// failure.
using CbcCipher = std::function<bool(const std::uint8_t* input, std::size_t size,
                                     const std::uint8_t* iv, bool encrypt, std::uint8_t* out)>;

// The enciphered or deciphered input (at least one block); empty on failure.
std::vector<std::uint8_t> CipherCs2WithCbc(const std::vector<std::uint8_t>& input,
                                           const std::uint8_t* iv, bool encrypt,
                                           const CbcCipher& cbc);

}  // namespace quarnel
