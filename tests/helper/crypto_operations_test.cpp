// The helper's cryptographic operations, run in this process: known answers for the cipher and
// the digests (the same values the password and identity tests check through the program), the
// signature check against the certificate the request carries, and refused requests.

#include "helper/crypto_operations.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypto_request.h"
#include "platform/unique_fd.h"
#include "tests/support/test_support.h"
#include "tests/update/test_signer.h"

namespace quarnel {
namespace {

std::string FromBytes(std::initializer_list<std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string Hex(const std::optional<std::string>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes.value_or("")) {
        hex += kDigits[static_cast<unsigned char>(c) >> 4];
        hex += kDigits[static_cast<unsigned char>(c) & 0xF];
    }
    return hex;
}

// The UTF-16LE units of an ASCII text.
std::string Units(std::string_view ascii) {
    std::string units;
    for (const char c : ascii) {
        units += c;
        units += '\0';
    }
    return units;
}

std::string CipherRequest(std::string_view key, std::string_view iv, std::string_view data) {
    std::string request;
    AppendRequestField(request, key);
    AppendRequestField(request, iv);
    AppendRequestField(request, data);
    return request;
}

TEST(CryptoOperations, DigestsHaveTheirKnownValues) {
    const struct {
        HelperOperation operation;
        std::string data;
        const char* digest;
    } cases[] = {
        {HelperOperation::Md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {HelperOperation::Md5, Units("abc"), "ce1473cf80c6b3fda8e3dfc006adc315"},
        {HelperOperation::Md5, Units("hw"), "257198504650ef41445041841a406806"},
        {HelperOperation::Sha1, Units("{01234567-89AB-CDEF-0123-456789ABCDEF}"),
         "674f5269c57f08bc3a3839d650e453f97f0a4088"},
        {HelperOperation::Sha1, Units("S-1-22-1-1000"), "4f64a3a7b1d23a91b1464c3527858b065f66df33"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(RunCryptoOperation(c.operation, c.data)), c.digest) << c.digest;
    }
}

// Stored passwords of the password tests: the key text and vector of their key material, the
// padded plain block and its cipher; the second steals a partial block.
TEST(CryptoOperations, CipherHasItsKnownValuesBothWays) {
    const struct {
        std::string key;
        std::string iv;
        std::string plain;
        std::string cipher;
    } cases[] = {
        {"257198504650ef41445041841a406806",
         FromBytes({0x6E, 0x26, 0xFF, 0x48, 0xA0, 0x31, 0xDE, 0x59, 0x0C, 0xD2, 0x40, 0x2B, 0x91,
                    0x68, 0xB3, 0xE4}),
         Units("secret") + std::string(2, '\0') + std::string(18, '\x12'),
         FromBytes({0xFF, 0x5C, 0xF0, 0xC2, 0x3A, 0x1F, 0xF9, 0x08, 0x68, 0x5A, 0x32,
                    0x01, 0xDB, 0xE7, 0xEC, 0x57, 0xEF, 0xB2, 0x09, 0x96, 0xD3, 0x6B,
                    0x08, 0x4C, 0xB5, 0x1C, 0xA0, 0xAC, 0xD7, 0x2B, 0xC8, 0x6B})},
        {"ccea80af1f76c3ea8c252e12b4b6d57a",
         FromBytes({0x38, 0x21, 0xF7, 0x1D, 0xF4, 0x67, 0x8B, 0x09, 0x58, 0xD4, 0x12, 0x2D, 0x99,
                    0x65, 0xBB, 0xE2}),
         // "pässwort-mit-€€€" and its terminator.
         Units("p") + FromBytes({0xE4, 0x00}) + Units("sswort-mit-") +
             FromBytes({0xAC, 0x20, 0xAC, 0x20, 0xAC, 0x20, 0x00, 0x00}),
         FromBytes({0x77, 0x91, 0x4D, 0xCC, 0xCF, 0xB2, 0x44, 0x9C, 0xF6, 0x05, 0xA5, 0x66,
                    0xCD, 0x19, 0xF7, 0x64, 0xCD, 0x5B, 0xC9, 0x76, 0x5F, 0x49, 0x08, 0x6E,
                    0x97, 0x78, 0x4E, 0xE7, 0xF3, 0x16, 0x18, 0x13, 0x72, 0xAA})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunCryptoOperation(HelperOperation::Encrypt, CipherRequest(c.key, c.iv, c.plain)),
                  c.cipher);
        EXPECT_EQ(
            RunCryptoOperation(HelperOperation::Decrypt, CipherRequest(c.key, c.iv, c.cipher)),
            c.plain);
    }
}

TEST(CryptoOperations, MalformedRequestsAndOtherOperationsHaveNoAnswer) {
    const std::string key(32, 'k');
    const std::string iv(16, 'i');
    const std::string data(32, 'd');
    const struct {
        const char* name;
        HelperOperation operation;
        std::string request;
    } cases[] = {
        {"ShortKey", HelperOperation::Encrypt, CipherRequest(key.substr(1), iv, data)},
        {"LongVector", HelperOperation::Decrypt, CipherRequest(key, iv + "i", data)},
        {"LessThanABlock", HelperOperation::Encrypt, CipherRequest(key, iv, data.substr(0, 15))},
        {"TrailingByte", HelperOperation::Encrypt, CipherRequest(key, iv, data) + "x"},
        {"FieldLongerThanTheRequest", HelperOperation::Decrypt,
         CipherRequest(key, iv, data).substr(0, 60)},
        {"TwoFields", HelperOperation::Encrypt, CipherRequest(key, iv, data).substr(0, 52)},
        {"Transfer", HelperOperation::Transfer, "GET"},
        {"UnknownOperation", static_cast<HelperOperation>(99), data},
        {"NoCertificate", HelperOperation::VerifySignature, ""},
        {"NotACertificate", HelperOperation::VerifySignature, "-----BEGIN CERTIFICATE-----\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunCryptoOperation(c.operation, c.request), std::nullopt) << c.name;
    }
}

// Only the certificate of the request counts as the signer; the files are read from their start
// through the descriptors.
TEST(CryptoOperations, SignatureVerifiesOnlyForTheRequestsCertificate) {
    test::TemporaryFolder folder;
    const std::string file = folder.Path() + "/quarnel.deb";
    const std::string signature = file + ".p7s";
    const std::string certificate =
        test::ReadFileText(std::string(QUARNEL_TEST_SIGNING_DIR) + "/test-signer.pem");
    ASSERT_FALSE(certificate.empty());
    const struct {
        const char* name;
        std::function<bool()> sign;
        char answer;
    } cases[] = {
        {"Signer", [&] { return test::SignFile(file, "test-signer", signature); },
         kSignatureVerified},
        {"OtherSigner", [&] { return test::SignFile(file, "other-signer", signature); },
         kSignatureNotVerified},
        {"IssuedByTheSigner",
         [&] { return test::SignFileWithIssuedCertificate(file, "test-signer", signature); },
         kSignatureNotVerified},
        {"ContentChanged",
         [&] {
             const bool signedFile = test::SignFile(file, "test-signer", signature);
             std::ofstream(file, std::ios::app) << "!";
             return signedFile;
         },
         kSignatureNotVerified},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(file, std::ios::trunc) << std::string(5000, 'q');
        ASSERT_TRUE(c.sign());
        const UniqueFd content(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        const UniqueFd signatureFd(::open(signature.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::lseek(content.Get(), 7, SEEK_SET), 7);
        const std::array<int, 2> descriptors = {content.Get(), signatureFd.Get()};
        EXPECT_EQ(RunCryptoOperation(HelperOperation::VerifySignature, certificate, descriptors),
                  std::string(1, c.answer));
        // Content that is not an open file never verifies.
        const std::array<int, 2> noContent = {-1, signatureFd.Get()};
        EXPECT_EQ(RunCryptoOperation(HelperOperation::VerifySignature, certificate, noContent),
                  std::string(1, kSignatureNotVerified));
    }
}

}  // namespace
}  // namespace quarnel
