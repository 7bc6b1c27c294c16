#include "settings/protection.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/process.h"
#include "platform/text.h"
#include "settings/crypto_provider.h"
#include "settings/registry.h"

namespace quarnel {
namespace {

constexpr std::size_t kKeyTextLength = 32;

// The derivation table of the initialisation vector. It must never change: every stored
// password was enciphered with it, and a different table makes them all unreadable.
constexpr std::array<std::uint8_t, 32> kDerivationTable = {
    0x5A, 0x13, 0xC7, 0x2E, 0x91, 0x04, 0xBF, 0x68, 0x3D, 0xE2, 0x76, 0x1F, 0xA9, 0x50, 0x8B, 0xD4,
    0x27, 0xFE, 0x42, 0x9C, 0x6B, 0x35, 0xE8, 0x0D, 0xB3, 0x79, 0xC0, 0x16, 0x8F, 0x4A, 0xD1, 0x63,
};

// Overwrites bytes that held key or plain-text material; an empty buffer may have no storage.
void Wipe(void* data, std::size_t size) {
    WipeMemory(data, size);
}

// Wipes a buffer that held key or plain-text bytes before it is released.
struct Wiped {
    std::vector<std::uint8_t> bytes;
    ~Wiped() { Wipe(bytes.data(), bytes.size()); }
};
struct WipedText {
    std::string text;
    ~WipedText() { Wipe(text.data(), text.size()); }
};

std::string_view AsText(const std::vector<std::uint8_t>& bytes, std::size_t length) {
    return {reinterpret_cast<const char*>(bytes.data()), std::min(length, bytes.size())};
}

// AES-256 in CBC mode with ciphertext stealing, CS2 arrangement, by the crypto provider.
std::vector<std::uint8_t> CipherCs2(const std::vector<std::uint8_t>& input,
                                    const std::vector<std::uint8_t>& key,
                                    const std::vector<std::uint8_t>& iv, bool encrypt) {
    return CipherAes256Cs2(input, key, iv, encrypt);
}

// The key text of the key material used last. Its digest costs a helper start, and a password
// read would otherwise start two helpers (the digest, the cipher) where one does. The material is
// no secret (the machine's identifier, or an account's, which every user can read), so keeping
// its digest gives nothing away that was not there.
std::vector<std::uint8_t> RememberedKeyText(std::string_view keyMaterial) {
    static std::mutex lock;
    static std::string material;
    static Wiped keyText;
    const std::lock_guard guard(lock);
    if (keyText.bytes.empty() || material != keyMaterial) {
        Wiped derived{DeriveKeyText(keyMaterial)};
        if (derived.bytes.empty()) {
            return {};
        }
        std::swap(keyText.bytes, derived.bytes);
        material = keyMaterial;
    }
    return keyText.bytes;
}

// The cipher under the key and initialisation vector derived from the key material.
std::vector<std::uint8_t> CipherWithKeyMaterial(const std::vector<std::uint8_t>& input,
                                                std::string_view keyMaterial, bool encrypt) {
    const Wiped keyText{RememberedKeyText(keyMaterial)};
    const Wiped iv{DeriveIv(keyText.bytes)};
    if (keyText.bytes.empty() || iv.bytes.empty()) {
        return {};
    }
    return CipherCs2(input, keyText.bytes, iv.bytes, encrypt);
}

// The plain text of the protected bytes deciphered last, with those bytes and the key material.
// The service reads the stored password on every update, and each decipherment is a helper
// start (about 10 ms, most of an address change's reaction); the stored bytes are still read
// every time and compared, so a changed password or key is deciphered anew. Keeping the plain
// text gives nothing away: the memory of the service, a root process, is readable by no other
// user (nor is a user process's by other users), the plain text passes through this process
// on every read anyway, and the key material is the machine's or the account's identifier,
// which every user can read. Wiped when replaced.
struct RememberedPlainText {
    std::mutex lock;
    std::vector<std::uint8_t> cipher;
    std::string material;
    Wiped plain;
};

RememberedPlainText& LastDeciphered() {
    static RememberedPlainText remembered;
    return remembered;
}

}  // namespace

std::vector<std::uint8_t> DeriveKeyText(std::string_view keyMaterial) {
    const std::vector<std::uint8_t> units = Utf8ToUtf16LeBytes(keyMaterial);
    const std::vector<std::uint8_t> digest = DigestMd5(AsText(units, units.size()));
    if (digest.empty()) {
        return {};
    }
    const std::string hex = HexLower(digest.data(), digest.size());
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
    RememberedPlainText& remembered = LastDeciphered();
    const std::lock_guard guard(remembered.lock);
    if (remembered.plain.bytes.empty() || remembered.cipher != data ||
        remembered.material != keyMaterial) {
        Wiped plain{CipherWithKeyMaterial(data, keyMaterial, false)};
        RemovePadding(plain.bytes, kProtectionBlockLength);
        if (plain.bytes.empty()) {
            // A failure is not kept: the next read asks the helper again.
            return {};
        }
        std::swap(remembered.plain.bytes, plain.bytes);
        remembered.cipher = data;
        remembered.material = keyMaterial;
    }
    return remembered.plain.bytes;
}

void ForgetDecipheredText() {
    RememberedPlainText& remembered = LastDeciphered();
    const std::lock_guard guard(remembered.lock);
    Wiped dropped;
    std::swap(dropped.bytes, remembered.plain.bytes);
    remembered.cipher.clear();
    remembered.material.clear();
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
