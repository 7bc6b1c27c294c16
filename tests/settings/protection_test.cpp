// Password protection (checked against known answers computed outside the program and against a
// ciphertext-stealing computation of its own, built from single AES block operations), the
// machine's identity and the client identity.

#include "settings/protection.h"

#include <openssl/evp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "settings/identity.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/settings/store_fixture.h"
#include "tests/support/unusable_helpers.h"

namespace quarnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kKey = "SOFTWARE\\Quarnel Updater\\Settings";

// One AES-256 block, enciphered on its own.
Bytes EncryptBlock(const Bytes& key, const Bytes& block) {
    Bytes out(32);
    int length = 0;
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(context, EVP_aes_256_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(context, 0);
    EVP_EncryptUpdate(context, out.data(), &length, block.data(), 16);
    EVP_CIPHER_CTX_free(context);
    out.resize(16);
    return out;
}

Bytes Xor(Bytes a, const Bytes& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] ^= b[i];
    }
    return a;
}

// CBC with ciphertext stealing, CS2: whole blocks as CBC; with a partial last block P*, the last
// whole block's cipher X is replaced by E(X xor P* padded with zeros) followed by X's first
// bytes.
Bytes ReferenceCs2(const Bytes& plain, const Bytes& key, const Bytes& iv) {
    const std::size_t partial = plain.size() % 16;
    const std::size_t whole = plain.size() / 16;
    Bytes out;
    Bytes previous(iv.begin(), iv.begin() + 16);
    for (std::size_t k = 0; k < whole; ++k) {
        const Bytes block(plain.begin() + k * 16, plain.begin() + k * 16 + 16);
        previous = EncryptBlock(key, Xor(block, previous));
        out.insert(out.end(), previous.begin(), previous.end());
    }
    if (partial == 0) {
        return out;
    }
    const Bytes x = previous;
    Bytes tail(plain.end() - partial, plain.end());
    tail.resize(16, 0);
    const Bytes last = EncryptBlock(key, Xor(tail, x));
    out.resize(out.size() - 16);
    out.insert(out.end(), last.begin(), last.end());
    out.insert(out.end(), x.begin(), x.begin() + partial);
    return out;
}

Bytes Utf16Terminated(const std::u16string& text) {
    Bytes bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

class ProtectionTest : public test::StoreTest {
  protected:
    void SetUp() override {
        // Each test deciphers for itself (the same password under the same material gives the
        // same protected bytes in another test).
        ForgetDecipheredText();
        ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    }
};

TEST_F(ProtectionTest, KeyTextIsTheLowerCaseMd5OfTheUtf16Units) {
    const Bytes empty = DeriveKeyText("");
    ASSERT_EQ(empty.size(), 33u);
    EXPECT_EQ(std::string(empty.begin(), empty.begin() + 32), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(empty[32], 0);
    const Bytes abc = DeriveKeyText("abc");
    EXPECT_EQ(std::string(abc.begin(), abc.begin() + 32), "ce1473cf80c6b3fda8e3dfc006adc315");
    EXPECT_TRUE(DeriveIv(Bytes(31, 'a')).empty());
}

// Known answers, computed once outside this program (Python's hashlib and an AES of its own,
// cross-checked with "openssl enc -aes-256-cbc -nopad" for the whole-block case). Every stored
// password depends on them: a change here makes the passwords of every installation unreadable.
TEST_F(ProtectionTest, KeyTextVectorAndStoredBytesHaveTheirKnownValues) {
    const Bytes keyText = DeriveKeyText("hw");
    EXPECT_EQ(std::string(keyText.begin(), keyText.begin() + 32),
              "257198504650ef41445041841a406806");
    EXPECT_EQ(DeriveIv(keyText),
              (Bytes{0x6E, 0x26, 0xFF, 0x48, 0xA0, 0x31, 0xDE, 0x59, 0x0C, 0xD2, 0x40,
                     0x2B, 0x91, 0x68, 0xB3, 0xE4, 0x13, 0xCF, 0x76, 0xAD, 0x5D, 0x07,
                     0xD8, 0x39, 0x83, 0x4B, 0xF4, 0x70, 0xBF, 0x7E, 0xE0, 0x55}));
    const struct {
        std::string password;
        std::string material;
        Bytes stored;
    } cases[] = {
        {"secret", "hw", {0xFF, 0x5C, 0xF0, 0xC2, 0x3A, 0x1F, 0xF9, 0x08, 0x68, 0x5A, 0x32,
                          0x01, 0xDB, 0xE7, 0xEC, 0x57, 0xEF, 0xB2, 0x09, 0x96, 0xD3, 0x6B,
                          0x08, 0x4C, 0xB5, 0x1C, 0xA0, 0xAC, 0xD7, 0x2B, 0xC8, 0x6B}},
        {"", "hw", {0x03, 0x01, 0xBA, 0x04, 0xEC, 0x42, 0x48, 0x49, 0xB9, 0x23, 0x24,
                    0x68, 0x3A, 0xB4, 0x2C, 0x9E, 0x8F, 0x03, 0x43, 0xD3, 0x73, 0x7C,
                    0xF2, 0x76, 0x37, 0x22, 0xBA, 0xEF, 0x66, 0x18, 0x93, 0x19}},
        // 17 units with the terminator: the last two bytes are a stolen partial block.
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
        // A value stored by an earlier installation reads back through the same derivation.
        ASSERT_EQ(WriteRegistryBinary(kMachine, kKey, "Earlier", c.stored.data(), c.stored.size()),
                  1);
        EXPECT_EQ(ReadProtectedPassword(kMachine, kKey, "Earlier", c.material), c.password);
    }
}

TEST_F(ProtectionTest, PaddingFillsShortBuffersAndIsRemovedOnlyWhenItsRunMatches) {
    Bytes data = {1, 2, 3};
    AddPadding(data);
    EXPECT_EQ(data.size(), 32u);
    EXPECT_EQ(Bytes(data.begin() + 3, data.end()), Bytes(29, 29));
    RemovePadding(data);
    EXPECT_EQ(data, (Bytes{1, 2, 3}));

    Bytes empty;
    AddPadding(empty);
    EXPECT_EQ(empty, Bytes(32, 32));
    RemovePadding(empty);
    EXPECT_TRUE(empty.empty());

    Bytes longer(40, 7);
    AddPadding(longer);
    EXPECT_EQ(longer.size(), 40u);
    RemovePadding(longer);
    EXPECT_EQ(longer.size(), 40u);

    Bytes run(32, 0);
    run[29] = run[30] = run[31] = 2;  // a run of three twos is no padding of two
    RemovePadding(run);
    EXPECT_EQ(run.size(), 32u);
    Bytes zeros(32, 0);  // a full block ending in a terminator
    RemovePadding(zeros);
    EXPECT_EQ(zeros.size(), 32u);
}

TEST_F(ProtectionTest, StoredLengthsFollowThePasswordLength) {
    const struct {
        std::string password;
        std::size_t stored;
    } cases[] = {
        {std::string(14, 'p'), 32},
        {std::string(15, 'p'), 32},
        {std::string(16, 'p'), 34},
        {"", 32},
        {"p\xC3\xA4sswort-mit-\xE2\x82\xAC", 32},  // 14 units
        {"p\xC3\xA4sswort-mit-\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", 34},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        ASSERT_EQ(WriteProtectedPassword(kMachine, kKey, "Password", c.password, "hw"), 1);
        EXPECT_EQ(ReadRegistryBinary(kMachine, kKey, "Password").size(), c.stored);
        EXPECT_EQ(ReadProtectedPassword(kMachine, kKey, "Password", "hw"), c.password);
    }
}

TEST_F(ProtectionTest, CipherIsCbcWithCiphertextStealingInTheCs2Arrangement) {
    std::mt19937 random(20240611);
    const std::string material = "{0123ABCD-0000-1111-2222-333344445555}";
    // The material's key text and vector, known answers as above.
    const std::string keyText = "ccea80af1f76c3ea8c252e12b4b6d57a";
    const Bytes key(keyText.begin(), keyText.end());
    const Bytes iv = {0x38, 0x21, 0xF7, 0x1D, 0xF4, 0x67, 0x8B, 0x09,
                      0x58, 0xD4, 0x12, 0x2D, 0x99, 0x65, 0xBB, 0xE2};
    for (const std::size_t length : {1u, 20u, 31u, 32u, 33u, 34u, 47u, 48u, 63u, 100u}) {
        SCOPED_TRACE(length);
        Bytes data(length);
        for (std::uint8_t& byte : data) {
            byte = static_cast<std::uint8_t>(random());
        }
        Bytes padded = data;
        AddPadding(padded);
        const Bytes cipher = EncryptBuffer(data, material);
        EXPECT_EQ(cipher, ReferenceCs2(padded, key, iv));
        Bytes unpadded = padded;  // arbitrary bytes may end in what looks like padding
        RemovePadding(unpadded);
        EXPECT_EQ(DecryptBuffer(cipher, material), unpadded);
    }
    // A password's plain block as stored: text units, terminator, padding.
    const Bytes plain = Utf16Terminated(u"secret");
    Bytes padded = plain;
    AddPadding(padded);
    EXPECT_EQ(EncryptBuffer(plain, material), ReferenceCs2(padded, key, iv));
    EXPECT_TRUE(EncryptBuffer({}, material).empty());
    EXPECT_TRUE(DecryptBuffer(Bytes(15, 1), material).empty());
}

TEST_F(ProtectionTest, ProtectionIsDeterministicAndOtherKeyMaterialReadsAnotherText) {
    ASSERT_EQ(WriteProtectedPassword(kMachine, kKey, "Password", "hunter2hunter2", "one"), 1);
    const Bytes first = ReadRegistryBinary(kMachine, kKey, "Password");
    ASSERT_EQ(WriteProtectedPassword(kMachine, kKey, "Password", "hunter2hunter2", "one"), 1);
    EXPECT_EQ(ReadRegistryBinary(kMachine, kKey, "Password"), first);
    EXPECT_NE(EncryptBuffer(Utf16Terminated(u"hunter2hunter2"), "two"), first);

    const std::string wrong = ReadProtectedPassword(kMachine, kKey, "Password", "two");
    EXPECT_NE(wrong, "hunter2hunter2");
    EXPECT_EQ(ReadProtectedPassword(kMachine, kKey, "Missing", "one"), "");
    EXPECT_EQ(WriteProtectedPassword(kMachine, "SOFTWARE\\Missing", "Password", "x", "one"), 0);
    EXPECT_EQ(WriteProtectedPassword(kMachine, kKey, "Password", "x", "one", "server"), 0);
}

// The cipher and the digest run in the helper process: without one that answers, a password is
// neither written nor read (it reads as unreadable, never as another text).
TEST_F(ProtectionTest, WithoutAWorkingHelperNoPasswordIsReadOrWritten) {
    ASSERT_EQ(WriteProtectedPassword(kMachine, kKey, "Password", "secret", "hw"), 1);
    const Bytes stored = ReadRegistryBinary(kMachine, kKey, "Password");
    test::TemporaryFolder folder;
    for (const test::UnusableHelper& helper : test::kUnusableHelpers) {
        SCOPED_TRACE(helper.name);
        const test::ScopedEnvironment use("QUARNEL_HELPER",
                                          test::MakeUnusableHelper(folder.Path(), helper));
        EXPECT_TRUE(DeriveKeyText("hw").empty());
        EXPECT_TRUE(EncryptBuffer(Utf16Terminated(u"secret"), "hw").empty());
        EXPECT_TRUE(DecryptBuffer(stored, "hw").empty());
        EXPECT_EQ(ReadProtectedPassword(kMachine, kKey, "Password", "hw"), "");
        EXPECT_EQ(WriteProtectedPassword(kMachine, kKey, "Password", "other", "hw"), 0);
    }
    EXPECT_EQ(ReadRegistryBinary(kMachine, kKey, "Password"), stored);
    EXPECT_EQ(ReadProtectedPassword(kMachine, kKey, "Password", "hw"), "secret");
}

// A helper start is the cost of each step; once a key material was used, a password read or
// write starts one helper (the cipher), not two (its key's digest as well); reading the same
// stored value again starts none, and a changed one is deciphered anew.
TEST_F(ProtectionTest, OnceTheKeyMaterialWasUsedAPasswordReadStartsOneHelper) {
    const char* helper = std::getenv("QUARNEL_HELPER");
    if (helper == nullptr) {
        GTEST_SKIP() << "needs QUARNEL_HELPER";
    }
    test::TemporaryFolder folder;
    const std::string starts = folder.Path() + "/starts";
    const std::string counting = folder.Path() + "/counting-helper";
    std::ofstream(counting) << "#!/bin/sh\necho >>'" << starts << "'\nexec '" << helper << "'\n";
    ASSERT_EQ(::chmod(counting.c_str(), 0700), 0);
    const test::ScopedEnvironment use("QUARNEL_HELPER", counting);
    const auto count = [&] {
        const std::string lines = test::ReadFileText(starts);
        return std::count(lines.begin(), lines.end(), '\n');
    };
    ASSERT_EQ(WriteProtectedPassword(kMachine, kKey, "Password", "secret", "counted material"), 1);
    const auto afterWrite = count();
    EXPECT_EQ(ReadProtectedPassword(kMachine, kKey, "Password", "counted material"), "secret");
    EXPECT_EQ(count() - afterWrite, 1);
    EXPECT_EQ(ReadProtectedPassword(kMachine, kKey, "Password", "counted material"), "secret");
    EXPECT_EQ(count() - afterWrite, 1) << "the same stored value is deciphered once";
    ASSERT_EQ(WriteProtectedPassword(kMachine, kKey, "Password", "changed", "counted material"), 1);
    const auto afterChange = count();
    EXPECT_EQ(ReadProtectedPassword(kMachine, kKey, "Password", "counted material"), "changed");
    EXPECT_EQ(count() - afterChange, 1) << "a changed stored value is deciphered anew";
}

TEST_F(ProtectionTest, HardwareProfileIdIsTheMachineIdAsABracedUpperCaseGuid) {
    EXPECT_EQ(GetHardwareProfileId(), "");
    WriteMachineId("0123456789abcdef0123456789abcdef\n");
    EXPECT_EQ(GetHardwareProfileId(), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
    for (const char* bad :
         {"uninitialized\n", "0123456789abcdef0123456789abcde\n",
          "0123456789abcdef0123456789abcdeg\n", "", "0123456789-bcdef0123456789abcdef\n"}) {
        WriteMachineId(bad);
        EXPECT_EQ(GetHardwareProfileId(), "") << bad;
    }
}

TEST_F(ProtectionTest, AccountsMapToIdentifiersAndRootToTheSystemAccount) {
    EXPECT_EQ(GetAccountSidString("root"), "S-1-5-18");
    EXPECT_EQ(GetAccountSidString(""), "");
    EXPECT_EQ(GetAccountSidString("no-such-user-quarnel"), "");
    if (const passwd* nobody = ::getpwnam("nobody")) {
        EXPECT_EQ(GetAccountSidString("nobody"), "S-1-22-1-" + std::to_string(nobody->pw_uid));
    }
    EXPECT_EQ(GetAccountSidString(GetCurrentUserName()),
              ::geteuid() == 0 ? "S-1-5-18" : "S-1-22-1-" + std::to_string(::geteuid()));
    EXPECT_EQ(ClientIdentityKey(), "CLSID\\{B7D5E900-AF40-11DD-AD8B-0800200C9A00}");
}

TEST_F(ProtectionTest, TheInstallingUserIsRecordedButNeverRoot) {
    if (::geteuid() != 0 || ::getpwnam("nobody") == nullptr || ::getpwnam("daemon") == nullptr) {
        GTEST_SKIP() << "needs root and the users nobody and daemon";
    }
    const std::string nobody = "S-1-22-1-" + std::to_string(::getpwnam("nobody")->pw_uid);
    const std::string daemon = "S-1-22-1-" + std::to_string(::getpwnam("daemon")->pw_uid);
    {
        test::ScopedEnvironment sudo("SUDO_UID", std::nullopt);
        test::ScopedEnvironment pkexec("PKEXEC_UID", std::nullopt);
        EXPECT_EQ(RecordClientIdentity(), 0);
        EXPECT_EQ(GetClientIdentity(), "");
        EXPECT_EQ(RegistryKeyExists(RegistryHive::ClassesRoot, ClientIdentityKey()), 0);
    }
    {
        test::ScopedEnvironment sudo("SUDO_UID", std::to_string(::getpwnam("nobody")->pw_uid));
        test::ScopedEnvironment pkexec("PKEXEC_UID", std::to_string(::getpwnam("daemon")->pw_uid));
        EXPECT_EQ(RecordClientIdentity(), 1);
        EXPECT_EQ(GetClientIdentity(), nobody);
    }
    {
        test::ScopedEnvironment sudo("SUDO_UID", "12x");
        test::ScopedEnvironment pkexec("PKEXEC_UID", std::to_string(::getpwnam("daemon")->pw_uid));
        EXPECT_EQ(RecordClientIdentity(), 1);
        EXPECT_EQ(GetClientIdentity(), daemon);
    }
    {
        // An installation as plain root records nothing and leaves the earlier record.
        test::ScopedEnvironment sudo("SUDO_UID", "0");
        test::ScopedEnvironment pkexec("PKEXEC_UID", std::nullopt);
        EXPECT_EQ(RecordClientIdentity(), 0);
        EXPECT_EQ(GetClientIdentity(), daemon);
    }
}

}  // namespace
}  // namespace quarnel
