// CNG with the program's own ciphertext stealing, through the password protection, and the
// pinned-signer comparison of the signature check.

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/crypto_provider.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "tests/windows/windows_fixture.h"
#include "update/pinned_signer.h"

namespace quarnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kKey = "SOFTWARE\\Quarnel Updater\\Settings";

std::string Hex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

TEST(CryptoWin, DigestsHaveTheirKnownValues) {
    EXPECT_EQ(Hex(DigestMd5("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hex(DigestSha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Hex(DigestMd5("")), "d41d8cd98f00b204e9800998ecf8427e");
}

class ProtectionWinTest : public test::RegistryRootTest {
  protected:
    void SetUp() override {
        ForgetDecipheredText();
        ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    }
};

// The stored bytes that the Linux build's known-answer test holds: every stored password
// depends on them, on Windows as on Linux. The last one ends in a stolen partial block.
TEST_F(ProtectionWinTest, StoredPasswordsHaveTheBytesOfEveryOtherInstallation) {
    const struct {
        std::string password;
        std::string material;
        Bytes stored;
    } cases[] = {
        {"secret", "hw", {0xFF, 0x5C, 0xF0, 0xC2, 0x3A, 0x1F, 0xF9, 0x08, 0x68, 0x5A, 0x32,
                          0x01, 0xDB, 0xE7, 0xEC, 0x57, 0xEF, 0xB2, 0x09, 0x96, 0xD3, 0x6B,
                          0x08, 0x4C, 0xB5, 0x1C, 0xA0, 0xAC, 0xD7, 0x2B, 0xC8, 0x6B}},
        {"p\xC3\xA4sswort-mit-\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC",
         "{0123ABCD-0000-1111-2222-333344445555}",
         {0x77, 0x91, 0x4D, 0xCC, 0xCF, 0xB2, 0x44, 0x9C, 0xF6, 0x05, 0xA5, 0x66,
          0xCD, 0x19, 0xF7, 0x64, 0xCD, 0x5B, 0xC9, 0x76, 0x5F, 0x49, 0x08, 0x6E,
          0x97, 0x78, 0x4E, 0xE7, 0xF3, 0x16, 0x18, 0x13, 0x72, 0xAA}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        ASSERT_EQ(WriteProtectedPassword(kMachine, kKey, "Password", c.password, c.material), 1);
        EXPECT_EQ(ReadRegistryBinary(kMachine, kKey, "Password"), c.stored);
        ForgetDecipheredText();
        EXPECT_EQ(ReadProtectedPassword(kMachine, kKey, "Password", c.material), c.password);
    }
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Only the very certificate pinned counts, whatever else vouches for a signer (Wine's
// WinVerifyTrust accepts any well-formed signature).
TEST(PinnedSignerWin, OnlyThePinnedCertificateItselfMatches) {
    const std::string pinned = ReadText(QUARNEL_TEST_SIGNING_DIR "/test-signer.pem");
    const std::string other = ReadText(QUARNEL_TEST_SIGNING_DIR "/other-signer.pem");
    ASSERT_FALSE(CertificateDerFromPem(pinned).empty());
    EXPECT_EQ(std::string(PinnedCertificate()), pinned);
    Bytes changed = CertificateDerFromPem(pinned);
    changed.back() ^= 1;
    const struct {
        const char* name;
        Bytes signer;
        bool matches;
    } cases[] = {
        {"the pinned certificate", CertificateDerFromPem(pinned), true},
        {"another signer", CertificateDerFromPem(other), false},
        {"one bit changed", changed, false},
        {"no signer", {}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsPinnedSigner(pinned, c.signer), c.matches) << c.name;
    }
    EXPECT_FALSE(IsPinnedSigner("", CertificateDerFromPem(pinned)));
    EXPECT_TRUE(
        CertificateDerFromPem("-----BEGIN CERTIFICATE-----\nA$==\n-----END CERTIFICATE-----")
            .empty());
}

}  // namespace
}  // namespace quarnel
