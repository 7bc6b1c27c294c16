// The cryptographic operations through the system's CNG (bcrypt): AES-256 in CBC mode, with the
// program's own ciphertext stealing on top, MD5 and SHA-1.

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "settings/ciphertext_stealing.h"
#include "settings/crypto_provider.h"

namespace quarnel {
namespace {

constexpr std::size_t kKeyLength = 32;

class Algorithm {
  public:
    Algorithm(const wchar_t* name, const wchar_t* chaining) {
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle_, name, nullptr, 0))) {
            handle_ = nullptr;
            return;
        }
        if (chaining != nullptr &&
            !BCRYPT_SUCCESS(::BCryptSetProperty(
                handle_, BCRYPT_CHAINING_MODE,
                reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(chaining)),
                static_cast<ULONG>((wcslen(chaining) + 1) * sizeof(wchar_t)), 0))) {
            ::BCryptCloseAlgorithmProvider(handle_, 0);
            handle_ = nullptr;
        }
    }
    ~Algorithm() {
        if (handle_ != nullptr) {
            ::BCryptCloseAlgorithmProvider(handle_, 0);
        }
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE Get() const { return handle_; }

  private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

std::vector<std::uint8_t> Digest(const wchar_t* algorithm, std::string_view bytes,
                                 std::size_t length) {
    const Algorithm provider(algorithm, nullptr);
    std::vector<std::uint8_t> digest(length);
    if (provider.Get() == nullptr ||
        !BCRYPT_SUCCESS(::BCryptHash(
            provider.Get(), nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
            static_cast<ULONG>(bytes.size()), digest.data(), static_cast<ULONG>(digest.size())))) {
        return {};
    }
    return digest;
}

}  // namespace

std::vector<std::uint8_t> CipherAes256Cs2(const std::vector<std::uint8_t>& input,
                                          const std::vector<std::uint8_t>& key,
                                          const std::vector<std::uint8_t>& iv, bool encrypt) {
    if (input.size() < kCs2BlockLength || key.size() < kKeyLength || iv.size() < kCs2BlockLength) {
        return {};
    }
    const Algorithm aes(BCRYPT_AES_ALGORITHM, BCRYPT_CHAIN_MODE_CBC);
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (aes.Get() == nullptr ||
        !BCRYPT_SUCCESS(::BCryptGenerateSymmetricKey(
            aes.Get(), &handle, nullptr, 0, const_cast<PUCHAR>(key.data()), kKeyLength, 0))) {
        return {};
    }
    const CbcCipher cbc = [handle](const std::uint8_t* data, std::size_t size,
                                   const std::uint8_t* vector, bool forward, std::uint8_t* out) {
        // CNG moves the vector along as it works: it gets a copy.
        std::array<std::uint8_t, kCs2BlockLength> chain{};
        std::copy_n(vector, kCs2BlockLength, chain.begin());
        ULONG written = 0;
        const auto call = forward ? ::BCryptEncrypt : ::BCryptDecrypt;
        const NTSTATUS status =
            call(handle, const_cast<PUCHAR>(data), static_cast<ULONG>(size), nullptr, chain.data(),
                 static_cast<ULONG>(chain.size()), out, static_cast<ULONG>(size), &written, 0);
        WipeMemory(chain.data(), chain.size());
        return BCRYPT_SUCCESS(status) && written == size;
    };
    std::vector<std::uint8_t> result = CipherCs2WithCbc(input, iv.data(), encrypt, cbc);
    ::BCryptDestroyKey(handle);
    return result;
}

std::vector<std::uint8_t> DigestMd5(std::string_view bytes) {
    return Digest(BCRYPT_MD5_ALGORITHM, bytes, kMd5Length);
}

std::vector<std::uint8_t> DigestSha1(std::string_view bytes) {
    return Digest(BCRYPT_SHA1_ALGORITHM, bytes, kSha1Length);
}

}  // namespace quarnel
