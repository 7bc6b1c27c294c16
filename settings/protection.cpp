#include "settings/protection.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <memory>

#include "platform/text.h"
#include "settings/registry.h"

namespace quarnel {
namespace {

constexpr std::size_t kKeyTextLength = 32;
constexpr std::size_t kAesBlockLength = 16;

// The derivation table of the initialisation vector. It must never change: every stored
// password was enciphered with it, and a different table makes them all unreadable.
constexpr std::array<std::uint8_t, 32> kDerivationTable = {
    0x5A, 0x13, 0xC7, 0x2E, 0x91, 0x04, 0xBF, 0x68, 0x3D, 0xE2, 0x76, 0x1F, 0xA9, 0x50, 0x8B, 0xD4,
    0x27, 0xFE, 0x42, 0x9C, 0x6B, 0x35, 0xE8, 0x0D, 0xB3, 0x79, 0xC0, 0x16, 0x8F, 0x4A, 0xD1, 0x63,
};

// Wipes a buffer that held key or plain-text bytes before it is released.
struct Wiped {
    std::vector<std::uint8_t> bytes;
    ~Wiped() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct CipherFree {
    void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};

// AES-256 in CBC mode with ciphertext stealing, CS2 arrangement: whole blocks are plain CBC; a
// final partial block is handled by storing the last whole cipher block first and the stolen
// partial block after it.
std::vector<std::uint8_t> CipherCs2(const std::vector<std::uint8_t>& input,
                                    const std::vector<std::uint8_t>& key,
                                    const std::vector<std::uint8_t>& iv, bool encrypt) {
    if (input.size() < kAesBlockLength || key.size() < kKeyTextLength ||
        iv.size() < kAesBlockLength) {
        return {};
    }
    std::unique_ptr<EVP_CIPHER, CipherFree> cipher(
        EVP_CIPHER_fetch(nullptr, "AES-256-CBC-CTS", nullptr));
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!cipher || !context) {
        return {};
    }
    char mode[] = "CS2";
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_CIPHER_PARAM_CTS_MODE, mode, 0),
        OSSL_PARAM_construct_end(),
    };
    std::vector<std::uint8_t> output(input.size() + kAesBlockLength);
    int written = 0;
    int finalWritten = 0;
    // The stealing needs the whole input in one update.
    if (EVP_CipherInit_ex2(context.get(), cipher.get(), key.data(), iv.data(), encrypt ? 1 : 0,
                           parameters) != 1 ||
        EVP_CipherUpdate(context.get(), output.data(), &written, input.data(),
                         static_cast<int>(input.size())) != 1 ||
        EVP_CipherFinal_ex(context.get(), output.data() + written, &finalWritten) != 1 ||
        static_cast<std::size_t>(written + finalWritten) != input.size()) {
        OPENSSL_cleanse(output.data(), output.size());
        return {};
    }
    output.resize(input.size());
    return output;
}

// The cipher under the key and initialisation vector derived from the key material.
std::vector<std::uint8_t> CipherWithKeyMaterial(const std::vector<std::uint8_t>& input,
                                                std::string_view keyMaterial, bool encrypt) {
    const Wiped keyText{DeriveKeyText(keyMaterial)};
    const Wiped iv{DeriveIv(keyText.bytes)};
    if (keyText.bytes.empty() || iv.bytes.empty()) {
        return {};
    }
    return CipherCs2(input, keyText.bytes, iv.bytes, encrypt);
}

}  // namespace

std::vector<std::uint8_t> DeriveKeyText(std::string_view keyMaterial) {
    const std::vector<std::uint8_t> units = Utf8ToUtf16LeBytes(keyMaterial);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(units.data(), units.size(), digest, &digestLength, EVP_md5(), nullptr) != 1 ||
        digestLength != 16) {
        return {};
    }
    const std::string hex = HexLower(digest, digestLength);
    std::vector<std::uint8_t> keyText(kKeyTextLength + 1, 0);
    std::copy(hex.begin(), hex.end(), keyText.begin());
    return keyText;
}

std::vector<std::uint8_t> DeriveIv(const std::vector<std::uint8_t>& keyText) {
    if (keyText.size() < kKeyTextLength) {
        return {};
    }
    std::vector<std::uint8_t> out(kDerivationTable.size(), 0);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::uint8_t t = kDerivationTable[i];
        out[i] = static_cast<std::uint8_t>(keyText[(i ^ t) % kKeyTextLength] ^ t);
    }
    return out;
}

void AddPadding(std::vector<std::uint8_t>& buffer, std::size_t blockLength) {
    if (buffer.size() < blockLength) {
        buffer.resize(blockLength, static_cast<std::uint8_t>(blockLength - buffer.size()));
    }
}

void RemovePadding(std::vector<std::uint8_t>& buffer, std::size_t blockLength) {
    if (buffer.size() != blockLength || buffer.empty()) {
        return;
    }
    const std::uint8_t value = buffer.back();
    std::size_t runStart = buffer.size() - 1;
    while (runStart > 0 && buffer[runStart - 1] == value) {
        --runStart;
    }
    if (value <= blockLength && runStart == blockLength - value) {
        buffer.resize(runStart);
    }
}

std::vector<std::uint8_t> EncryptBuffer(const std::vector<std::uint8_t>& data,
                                        std::string_view keyMaterial) {
    if (data.empty()) {
        return {};
    }
    // Room for the padding up front, so no copy of the plain text is left behind by a resize.
    Wiped padded;
    padded.bytes.reserve(std::max(data.size(), kProtectionBlockLength));
    padded.bytes.assign(data.begin(), data.end());
    AddPadding(padded.bytes, kProtectionBlockLength);
    return CipherWithKeyMaterial(padded.bytes, keyMaterial, true);
}

std::vector<std::uint8_t> DecryptBuffer(const std::vector<std::uint8_t>& data,
                                        std::string_view keyMaterial) {
    std::vector<std::uint8_t> plain = CipherWithKeyMaterial(data, keyMaterial, false);
    RemovePadding(plain, kProtectionBlockLength);
    return plain;
}

int WriteProtectedBinary(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                         const std::vector<std::uint8_t>& data, std::string_view keyMaterial,
                         std::string_view machine) {
    const std::vector<std::uint8_t> cipher = EncryptBuffer(data, keyMaterial);
    if (cipher.empty()) {
        return 0;
    }
    return WriteRegistryBinary(hive, keyPath, valueName, cipher.data(), cipher.size(), machine);
}

std::vector<std::uint8_t> ReadProtectedBinary(RegistryHive hive, std::string_view keyPath,
                                              std::string_view valueName,
                                              std::string_view keyMaterial,
                                              std::string_view machine) {
    const std::vector<std::uint8_t> stored = ReadRegistryBinary(hive, keyPath, valueName, machine);
    if (stored.empty()) {
        return {};
    }
    return DecryptBuffer(stored, keyMaterial);
}

int WriteProtectedPassword(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                           std::string_view password, std::string_view keyMaterial,
                           std::string_view machine) {
    const Wiped units{Utf8ToUtf16LeBytes(password)};
    Wiped plain;
    plain.bytes.reserve(units.bytes.size() + 2);
    plain.bytes.assign(units.bytes.begin(), units.bytes.end());
    plain.bytes.push_back(0);
    plain.bytes.push_back(0);
    return WriteProtectedBinary(hive, keyPath, valueName, plain.bytes, keyMaterial, machine);
}

std::string ReadProtectedPassword(RegistryHive hive, std::string_view keyPath,
                                  std::string_view valueName, std::string_view keyMaterial,
                                  std::string_view machine) {
    const Wiped plain{ReadProtectedBinary(hive, keyPath, valueName, keyMaterial, machine)};
    if (plain.bytes.empty()) {
        return {};
    }
    return Utf16LeBytesToUtf8(plain.bytes.data(), plain.bytes.size(), true);
}

}  // namespace quarnel
