// The stored password's protection: arbitrary stored bytes deciphered, and arbitrary passwords
// and buffers protected and read back.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/text.h"
#include "settings/protection.h"
#include "settings/registry.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;
constexpr std::string_view kKey = "SOFTWARE\\Quarnel Updater\\FuzzProtection";
constexpr std::string_view kKeyMaterial = "{4C1B7E2A-9D3F-4E58-A6B0-2F7C8D9E1A34}";

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    fuzz::UseTemporaryRoot();
    static const bool keyMade = CreateRegistryKey(kHive, kKey) == 1;
    FUZZ_CHECK(keyMade);
    const std::vector<std::uint8_t> bytes(data, data + size);

    // Any stored bytes decipher to as many bytes (padding comes off a single block only), or to
    // nothing when shorter than a cipher block.
    const std::vector<std::uint8_t> plain = DecryptBuffer(bytes, kKeyMaterial);
    if (size < 16) {
        FUZZ_CHECK(plain.empty());
    } else if (size == kProtectionBlockLength) {
        FUZZ_CHECK(plain.size() <= size);
    } else {
        FUZZ_CHECK(plain.size() == size);
    }

    // A buffer that ends in a zero byte, as a protected text does, comes back exactly; the
    // cipher text is the buffer padded to one block, never shorter.
    std::vector<std::uint8_t> buffer = bytes;
    buffer.push_back(0);
    const std::vector<std::uint8_t> cipher = EncryptBuffer(buffer, kKeyMaterial);
    FUZZ_CHECK(cipher.size() == std::max(buffer.size(), kProtectionBlockLength));
    FUZZ_CHECK(DecryptBuffer(cipher, kKeyMaterial) == buffer);

    // Stored bytes read as a password give valid text without a zero character.
    if (size > 0) {
        FUZZ_CHECK(WriteRegistryBinary(kHive, kKey, "Password", data, size) == 1);
        const std::string read = ReadProtectedPassword(kHive, kKey, "Password", kKeyMaterial);
        FUZZ_CHECK(fuzz::IsValidUtf8(read) && read.find('\0') == std::string::npos);
    }

    // A password written from the input reads back as the text up to its first zero byte.
    const std::string_view password = fuzz::AsText(data, size);
    FUZZ_CHECK(WriteProtectedPassword(kHive, kKey, "Password", password, kKeyMaterial) == 1);
    const std::string expected = Utf16ToUtf8(Utf8ToUtf16(password.substr(0, password.find('\0'))));
    FUZZ_CHECK(ReadProtectedPassword(kHive, kKey, "Password", kKeyMaterial) == expected);
    return 0;
}
