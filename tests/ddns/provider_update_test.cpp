#include "ddns/provider_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "ddns/endpoints.h"
#include "ddns/http_client.h"
#include "ddns/identity_digests.h"
#include "ddns/update_result.h"
#include "platform/accounts.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/ddns/emulator_test_base.h"
#include "tests/fixtures/endpoint_overrides.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;

class SendUpdateRequestTest : public test::EmulatorTest {
  protected:
    void SetUp() override {
        EmulatorTest::SetUp();
        ASSERT_TRUE(test::PointEndpointsAtEmulator(emulator_));
        WriteMachineId("0123456789abcdef0123456789abcdef");
        ASSERT_EQ(CreateRegistryKey(kHive, kSettingsKey), 1);
        Admin("/admin/account?user=alice&password=" + std::string(kPasswordQuery));
        Admin("/admin/host?name=home.example.org&user=alice");
        Admin("/admin/host?name=office.example.org&user=alice&address=203.0.113.5");
        StoreSettings("alice", kPassword, "home.example.org", 0);
    }

    void WriteMachineId(const std::string& id) {
        std::filesystem::create_directories(root_.Path() + "/etc");
        std::ofstream(root_.Path() + "/etc/machine-id", std::ios::trunc) << id << "\n";
    }

    void StoreSettings(const std::string& user, const std::string& password,
                       const std::string& hostname, std::int64_t service) {
        if (!user.empty()) {
            ASSERT_EQ(WriteRegistryString(kHive, kSettingsKey, kValueUsername, user), 1);
        }
        ASSERT_EQ(WriteProtectedPassword(kHive, kSettingsKey, kValuePassword, password,
                                         GetHardwareProfileId()),
                  1);
        if (hostname.empty()) {
            DeleteRegistryValue(kHive, kSettingsKey, kValueHostname);
        } else {
            ASSERT_EQ(WriteRegistryString(kHive, kSettingsKey, kValueHostname, hostname), 1);
        }
        ASSERT_EQ(WriteRegistryDword(kHive, kSettingsKey, kValueService, service), 1);
    }

    // Longer than one cipher block and not ASCII, so both reach the provider intact.
    static constexpr const char* kPassword = "Kennwort mit Ümlaut & 20+ Zeichen";
    static constexpr const char* kPasswordQuery =
        "Kennwort%20mit%20%C3%9Cmlaut%20%26%2020%2B%20Zeichen";
};

TEST_F(SendUpdateRequestTest, UpdatesTheHostOverHttpsWithTheStoredAccount) {
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "good 203.0.113.5");
    const test::RequestRecord record = LastRecord();
    EXPECT_EQ(record.server, "https");
    EXPECT_EQ(record.method, "GET");
    EXPECT_EQ(record.target, "/nic/update?hostname=home.example.org&myip=203.0.113.5");
    EXPECT_TRUE(record.Header("Authorization").has_value());
    EXPECT_FALSE(record.Header("X-User-Ident").has_value());
    EXPECT_FALSE(record.Header("X-Hardware-Ident").has_value());
    EXPECT_EQ(Admin("/admin/host?name=home.example.org"), "203.0.113.5\n");

    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "nochg 203.0.113.5");
    const UpdateResult result = SplitUpdateResult(SendUpdateRequest("203.0.113.6"), "203.0.113.6");
    EXPECT_EQ(result.code, "good");
    EXPECT_EQ(result.address, "203.0.113.6");
}

TEST_F(SendUpdateRequestTest, AWrongPasswordOrAnotherMachinesKeyGivesBadauth) {
    StoreSettings("alice", "not the password", "home.example.org", 0);
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "badauth");
    StoreSettings("alice", kPassword, "home.example.org", 0);
    WriteMachineId("fedcba9876543210fedcba9876543210");
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "badauth");
}

// The password is deciphered in the helper process. When that fails, the account does not go
// out with an empty password (its badauth would keep the service waiting for new settings): the
// exchange is no answer, tried again later.
TEST_F(SendUpdateRequestTest, APasswordThatCannotBeDecipheredNowSendsNothing) {
    // An earlier test deciphered the same stored bytes under the same machine identifier.
    ForgetDecipheredText();
    test::TemporaryFolder folder;
    const std::string refusing = folder.Path() + "/refuses-to-decipher";
    // Fails the decipherment (operation 3) and hands every other operation to the real helper:
    // the profile byte, then the frame that starts with the operation.
    std::ofstream(refusing)
        << "#!/bin/sh\n"
           "byte() { dd bs=1 count=1 2>/dev/null | od -An -tu1 | tr -d ' '; }\n"
           "profile=$(byte); op=$(byte)\n"
           "[ \"$op\" = 3 ] && exit 1\n"
           "{ printf \"\\\\$(printf %o \"$profile\")\\\\$(printf %o \"$op\")\"; cat; } "
           "| exec '"
        << test::HelperProgramPath() << "'\n";
    ASSERT_EQ(::chmod(refusing.c_str(), 0700), 0);
    const test::ScopedEnvironment use("QUARNEL_HELPER", refusing);
    // The stand-in passes the other operations on.
    ASSERT_EQ(IdentityDigest("S-1-22-1-1000"), "4f64a3a7b1d23a91b1464c3527858b065f66df33");
    // The exchange before (the IP echo's) leaves its status; it must not pass for this one's.
    ASSERT_FALSE(
        HttpRequestString("https://127.0.0.1:" + std::to_string(emulator_.HttpsPort()) + "/", "GET",
                          0, "", "", "", "")
            .empty());
    ASSERT_EQ(LastHttpStatus(), 200);
    const std::size_t before = Records().size();
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "");
    EXPECT_EQ(LastHttpStatus(), 0);
    EXPECT_EQ(Records().size(), before);
}

TEST_F(SendUpdateRequestTest, ProviderAnswersAreTrimmedButOtherwiseReturnedAsTheyCame) {
    Admin("/admin/script?body=good%20203.0.113.5%0D%0A");
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "good 203.0.113.5");
    Admin("/admin/script?body=911");
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "911");
    Admin("/admin/script?body=%21donator");
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "!donator");
    Admin("/admin/script?body=");
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "");
    Admin("/admin/fault?kind=short");
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "") << "a cut answer is no answer";
}

TEST_F(SendUpdateRequestTest, SeveralHostNamesGoInOneRequestAndAnswerOneLineEach) {
    StoreSettings("alice", kPassword, "home.example.org,office.example.org", kProviderNoIp);
    const std::string answer = SendUpdateRequest("203.0.113.5");
    EXPECT_EQ(answer, "good 203.0.113.5\nnochg 203.0.113.5");
    EXPECT_EQ(SplitUpdateResult(answer, "203.0.113.5").code, "good");
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_EQ(LastRecord().target,
              "/nic/update?hostname=home.example.org,office.example.org&myip=203.0.113.5");
}

// The dual form: both records in one request, both kept per host, both named in the answer; a
// later request without an IPv6 address leaves the stored one alone.
TEST_F(SendUpdateRequestTest, BothAddressesAreStoredAndAnsweredTogether) {
    const struct {
        const char* sent;
        const char* answer;
        const char* stored;
    } steps[] = {
        {"203.0.113.5,2001:db8::5", "good 203.0.113.5,2001:db8::5", "203.0.113.5,2001:db8::5"},
        {"203.0.113.5,2001:db8::5", "nochg 203.0.113.5,2001:db8::5", "203.0.113.5,2001:db8::5"},
        {"203.0.113.5,2001:db8::6", "good 203.0.113.5,2001:db8::6", "203.0.113.5,2001:db8::6"},
        {"203.0.113.5", "nochg 203.0.113.5", "203.0.113.5,2001:db8::6"},
        {"203.0.113.5,2001:db8:0::z", "badagent", "203.0.113.5,2001:db8::6"},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(SendUpdateRequest(step.sent), step.answer) << step.sent;
        EXPECT_EQ(LastRecord().target,
                  std::string("/nic/update?hostname=home.example.org&myip=") + step.sent);
        EXPECT_EQ(Admin("/admin/host?name=home.example.org"), std::string(step.stored) + "\n");
    }
}

TEST_F(SendUpdateRequestTest, DnsOMaticWithoutHostNameUpdatesEveryHost) {
    StoreSettings("alice", kPassword, "", kProviderDnsOMatic);
    EXPECT_EQ(SendUpdateRequest("198.51.100.9"), "good 198.51.100.9");
    EXPECT_EQ(LastRecord().target, "/nic/update?hostname=all.dnsomatic.com&myip=198.51.100.9");
    EXPECT_EQ(Admin("/admin/host?name=home.example.org"), "198.51.100.9\n");
    EXPECT_EQ(Admin("/admin/host?name=office.example.org"), "198.51.100.9\n");

    StoreSettings("alice", kPassword, "", kProviderDynDns);
    EXPECT_EQ(SendUpdateRequest("198.51.100.9"), "notfqdn");
    EXPECT_EQ(LastRecord().target, "/nic/update?hostname=&myip=198.51.100.9");
}

TEST_F(SendUpdateRequestTest, AProviderOutsideTheTableSendsNothing) {
    StoreSettings("alice", kPassword, "home.example.org", 6);
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "");
    StoreSettings("alice", kPassword, "home.example.org", -1);
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "");
    EXPECT_TRUE(Records().empty());
}

TEST_F(SendUpdateRequestTest, AHostNameCannotChangeTheRequestsMeaning) {
    StoreSettings("alice", kPassword, "home.example.org&myip=198.51.100.66#", 0);
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "nohost");
    EXPECT_EQ(LastRecord().target,
              "/nic/update?hostname=home.example.org%26myip%3D198.51.100.66%23&myip=203.0.113.5");
    EXPECT_EQ(Admin("/admin/host?name=home.example.org"), "\n") << "nothing was updated";
}

TEST_F(SendUpdateRequestTest, CertificatesAreCheckedInFull) {
    ASSERT_TRUE(test::SetEndpointOverride(
        Endpoint::DynDnsUpdate, "127.0.0.1:" + std::to_string(emulator_.HttpsOtherNamePort())));
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "");
    ASSERT_TRUE(test::SetEndpointOverride(
        Endpoint::DynDnsUpdate, "127.0.0.1:" + std::to_string(emulator_.HttpsExpiredPort())));
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "");
    ASSERT_TRUE(test::SetEndpointOverride(Endpoint::DynDnsUpdate,
                                          "localhost:" + std::to_string(emulator_.HttpsPort())));
    EXPECT_EQ(SendUpdateRequest("203.0.113.5"), "good 203.0.113.5");
}

}  // namespace
}  // namespace quarnel
