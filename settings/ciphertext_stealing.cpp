#include "settings/ciphertext_stealing.h"

#include <algorithm>
#include <array>

#include "platform/process.h"

namespace quarnel {
namespace {

using Block = std::array<std::uint8_t, kCs2BlockLength>;

struct WipedBlock {
    Block bytes{};
    ~WipedBlock() { WipeMemory(bytes.data(), bytes.size()); }
};

}  // namespace

std::vector<std::uint8_t> CipherCs2WithCbc(const std::vector<std::uint8_t>& input,
                                           const std::uint8_t* iv, bool encrypt,
                                           const CbcCipher& cbc) {
    const std::size_t size = input.size();
    if (size < kCs2BlockLength) {
        return {};
    }
    std::vector<std::uint8_t> out(size);
    const std::size_t partial = size % kCs2BlockLength;
    if (partial == 0) {
        if (!cbc(input.data(), size, iv, encrypt, out.data())) {
            return {};
        }
        return out;
    }
    // The whole blocks before the last whole one, the last whole one, and the partial one.
    const std::size_t head = size - partial - kCs2BlockLength;
    if (encrypt) {
        // CBC over every block, the last one padded with zeros, then the last two swapped and
        // the second-to-last cut to the partial length.
        std::vector<std::uint8_t> padded(input);
        padded.resize(size - partial + kCs2BlockLength, 0);
        std::vector<std::uint8_t> cipher(padded.size());
        const bool done = cbc(padded.data(), padded.size(), iv, true, cipher.data());
        WipeMemory(padded.data(), padded.size());
        if (!done) {
            return {};
        }
        std::copy_n(cipher.begin(), head, out.begin());
        std::copy_n(cipher.begin() + static_cast<std::ptrdiff_t>(head + kCs2BlockLength),
                    kCs2BlockLength, out.begin() + static_cast<std::ptrdiff_t>(head));
        std::copy_n(cipher.begin() + static_cast<std::ptrdiff_t>(head), partial,
                    out.begin() + static_cast<std::ptrdiff_t>(head + kCs2BlockLength));
        return out;
    }
    // The last whole block deciphered alone (CBC from a zero vector is the bare block cipher)
    // gives the stolen bytes back: what follows the partial length is the cut cipher block's
    // tail, because the padding was zeros.
    const Block zero{};
    WipedBlock decrypted;
    if (!cbc(input.data() + head, kCs2BlockLength, zero.data(), false, decrypted.bytes.data())) {
        return {};
    }
    std::vector<std::uint8_t> whole(input.begin(),
                                    input.begin() + static_cast<std::ptrdiff_t>(head));
    Block previous{};
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(head + kCs2BlockLength), partial,
                previous.begin());
    std::copy(decrypted.bytes.begin() + static_cast<std::ptrdiff_t>(partial), decrypted.bytes.end(),
              previous.begin() + static_cast<std::ptrdiff_t>(partial));
    whole.insert(whole.end(), previous.begin(), previous.end());
    // The partial plain block is the decipherment xor the restored cipher block.
    for (std::size_t i = 0; i < partial; ++i) {
        out[head + kCs2BlockLength + i] = decrypted.bytes[i] ^ previous[i];
    }
    if (!cbc(whole.data(), whole.size(), iv, false, out.data())) {
        WipeMemory(out.data(), out.size());
        return {};
    }
    return out;
}

}  // namespace quarnel
