// Carrying older stores over, and the apply step of the settings window.

#include "settings/migration.h"

#include <sys/inotify.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/accounts.h"
#include "platform/unique_fd.h"
#include "settings/apply.h"
#include "settings/identity.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/settings/store_fixture.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kIdentity = "S-1-22-1-1000";

class MigrationTest : public test::StoreTest {
  protected:
    void SetUp() override {
        WriteMachineId("00112233445566778899aabbccddeeff\n");
        hardware_ = GetHardwareProfileId();
        ASSERT_FALSE(hardware_.empty());
    }
    void RecordIdentity() {
        ASSERT_EQ(CreateRegistryKey(RegistryHive::ClassesRoot, ClientIdentityKey()), 1);
        ASSERT_EQ(WriteRegistryString(RegistryHive::ClassesRoot, ClientIdentityKey(),
                                      kValueSecurityIdentifier, kIdentity),
                  1);
    }
    void ExpectTimeStampedNow(std::int64_t before) {
        const std::int64_t time = ReadTimeStamp(kMachine, kSettingsKey, kValueTime);
        EXPECT_GE(time, static_cast<std::int32_t>(before));
        EXPECT_LE(time, static_cast<std::int32_t>(CurrentTimeStamp()));
    }
    std::vector<std::string> ProductValues() const {
        return test::ListFolder(MachineFolder(std::string(kProductKey)));
    }

    std::string hardware_;
};

TEST_F(MigrationTest, AMachineWithoutAStoreGetsTheDefaults) {
    const std::int64_t before = CurrentTimeStamp();
    EXPECT_EQ(MigrateSettings(), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBuild), 294);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueInterval), 5);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueService), 0);
    ExpectTimeStampedNow(before);
    EXPECT_EQ(test::ListFolder(MachineFolder(std::string(kSettingsKey))),
              (std::vector<std::string>{"Interval.value", "Service.value", "Time.value"}));
    EXPECT_EQ(ProductValues(), (std::vector<std::string>{"Settings", "SoftwareBuild.value"}));
}

TEST_F(MigrationTest, AStoreOfBuild250IsCarriedOverCompletely) {
    RecordIdentity();
    ASSERT_EQ(CreateRegistryKey(kMachine, kProductKey), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, kValueSoftwareBuild, 250), 1);
    ASSERT_EQ(WriteRegistryString(kMachine, kProductKey, "Password", "plain secret"), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, "Beta", 1), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, "Filter", 1), 1);
    ASSERT_EQ(WriteRegistryMultiString(kMachine, kProductKey, "Networks", "CafeWifi\n"), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, "Interval", 2), 1);
    ASSERT_EQ(WriteRegistryString(kMachine, kProductKey, "Username", "alice"), 1);
    ASSERT_EQ(WriteRegistryString(kMachine, kProductKey, "Hostname", "alice.example"), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, "ForceUpdate", 1), 1);
    const std::int64_t before = CurrentTimeStamp();

    EXPECT_EQ(MigrateSettings(), 1);
    EXPECT_EQ(ReadProtectedPassword(kMachine, kSettingsKey, kValuePassword, hardware_),
              "plain secret");
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueInterval), 15);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueWirelessFilter), 1);
    // Exactly the one network: no empty entry gained on the way.
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueWirelessNetworks),
              "CafeWifi\n\n");
    EXPECT_EQ(ReadRegistryString(kMachine, kSettingsKey, kValueUsername), "alice");
    EXPECT_EQ(ReadRegistryString(kMachine, kSettingsKey, kValueHostname), "alice.example");
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueService), 0);
    ExpectTimeStampedNow(before);
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBeta), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBuild), 294);
    EXPECT_EQ(ProductValues(),
              (std::vector<std::string>{"Settings", "SoftwareBeta.value", "SoftwareBuild.value"}));
}

TEST_F(MigrationTest, AStoreOfBuild265MovesItsSettingsAndKeepsAnUnlistedInterval) {
    RecordIdentity();
    ASSERT_EQ(CreateRegistryKey(kMachine, kProductKey), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, kValueSoftwareBuild, 265), 1);
    ASSERT_EQ(WriteProtectedPassword(kMachine, kProductKey, "Password", "s3cret", kIdentity), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, "Interval", 45), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, "Service", 3), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, "LocalFilter", 1), 1);
    ASSERT_EQ(WriteRegistryMultiString(kMachine, kProductKey, "LocalNetworks", "home\noffice\n"),
              1);
    // A name only builds before 260 used: this store's build says it is no such store.
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, "Beta", 1), 1);

    EXPECT_EQ(MigrateSettings(), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueInterval), 45);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueService), 3);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueLocalFilter), 1);
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueLocalNetworks),
              "home\noffice\n\n");
    EXPECT_EQ(ReadProtectedPassword(kMachine, kSettingsKey, kValuePassword, hardware_), "s3cret");
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueWirelessFilter), 0);
    EXPECT_EQ(ReadRegistryString(kMachine, kSettingsKey, kValueUsername), "");
    EXPECT_EQ(ProductValues(),
              (std::vector<std::string>{"Beta.value", "Settings", "SoftwareBuild.value"}));
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBuild), 294);
}

TEST_F(MigrationTest, AStoreOfBuild280OnlyGetsTheNewBuildNumber) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kSettingsKey), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, kValueSoftwareBuild, 280), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, "Interval", 2), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kSettingsKey, kValueInterval, 60), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kSettingsKey, kValueTime, 12345), 1);
    EXPECT_EQ(MigrateSettings(), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBuild), 294);
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, "Interval"), 2);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueInterval), 60);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueTime), 12345);
    EXPECT_EQ(test::ListFolder(MachineFolder(std::string(kSettingsKey))),
              (std::vector<std::string>{"Interval.value", "Time.value"}));
}

TEST_F(MigrationTest, ARerunWithoutSoftwareBuildNeverResetsTheSettings) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kSettingsKey), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kSettingsKey, kValueInterval, 60), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kSettingsKey, kValueService, 3), 1);
    ASSERT_EQ(WriteRegistryString(kMachine, kSettingsKey, kValueUsername, "alice"), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kSettingsKey, kValueTime, 12345), 1);
    // SoftwareBuild went missing: both steps run again, with nothing old to carry over.
    EXPECT_EQ(MigrateSettings(), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueInterval), 60);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueService), 3);
    EXPECT_EQ(ReadRegistryString(kMachine, kSettingsKey, kValueUsername), "alice");
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueTime), 12345);
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBuild), 294);
}

TEST_F(MigrationTest, AnOldValueIsDeletedOnlyAfterItsNewCopyIsWritten) {
    RecordIdentity();
    ASSERT_EQ(CreateRegistryKey(kMachine, kSettingsKey), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, kValueSoftwareBuild, 265), 1);
    ASSERT_EQ(WriteRegistryString(kMachine, kProductKey, "Hostname", "alice.example"), 1);
    ASSERT_EQ(WriteRegistryString(kMachine, kProductKey, "Username", "alice"), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kProductKey, "Service", 4), 1);
    // The new Hostname cannot be written (as on a full disk): a folder stands in its way.
    const std::string blocked = MachineFolder(std::string(kSettingsKey)) + "/Hostname.value";
    ASSERT_EQ(::mkdir(blocked.c_str(), 0755), 0);
    EXPECT_EQ(MigrateSettings(), 0);
    EXPECT_EQ(ReadRegistryString(kMachine, kProductKey, kValueHostname), "alice.example");
    // What was written moved; the build is not recorded, so the next run tries again.
    EXPECT_EQ(ReadRegistryString(kMachine, kSettingsKey, kValueUsername), "alice");
    EXPECT_EQ(ReadRegistryString(kMachine, kProductKey, kValueUsername), "");
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBuild), 265);

    ASSERT_EQ(::rmdir(blocked.c_str()), 0);
    EXPECT_EQ(MigrateSettings(), 1);
    EXPECT_EQ(ReadRegistryString(kMachine, kSettingsKey, kValueHostname), "alice.example");
    EXPECT_EQ(ReadRegistryString(kMachine, kSettingsKey, kValueUsername), "alice");
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueService), 4);
    EXPECT_EQ(ProductValues(), (std::vector<std::string>{"Settings", "SoftwareBuild.value"}));
}

// Records the order in which value files of two folders are replaced.
class WriteOrder {
  public:
    explicit WriteOrder(const std::vector<std::string>& folders)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        for (const std::string& folder : folders) {
            ::inotify_add_watch(fd_.Get(), folder.c_str(), IN_MOVED_TO);
        }
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[8192];
        ssize_t got = 0;
        while ((got = ::read(fd_.Get(), buffer, sizeof buffer)) > 0) {
            for (ssize_t offset = 0; offset < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                names.push_back(event->name);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return names;
    }

  private:
    UniqueFd fd_;
};

struct Calls {
    std::vector<std::string> log;
    std::int64_t serviceExists = 0;
    std::int64_t admin = 0;

    ApplyOperations Operations() {
        ApplyOperations operations;
        operations.setAutostart = [this](int mode) {
            log.push_back("autostart " + std::to_string(mode));
            return std::int64_t{mode};
        };
        operations.serviceExists = [this] {
            log.push_back("exists");
            return serviceExists;
        };
        operations.controlService = [this](std::uint32_t code) {
            log.push_back("control " + std::to_string(code));
            return std::int64_t{1};
        };
        operations.isCurrentUserAdmin = [this] { return admin; };
        operations.startProgram = [this](const std::string& arguments) {
            log.push_back("start " + arguments);
            return std::int64_t{1};
        };
        return operations;
    }
};

SettingsValues SomeValues() {
    SettingsValues values;
    values.userName = "alice";
    values.password = "pa55word";
    values.hostName = "alice.example";
    values.intervalMinutes = 30;
    values.providerIndex = 5;
    values.localFilter = true;
    values.localNetworks = std::vector<std::string>{"home", "", "office"};
    values.wirelessNetworks = std::vector<std::string>{"CafeWifi"};
    values.beta = true;
    values.autostartMode = kAutostartThisUser;
    return values;
}

TEST_F(MigrationTest, ApplyWritesEverythingInOrderWithTheTimeLast) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kSettingsKey), 1);
    const WriteOrder order(
        {MachineFolder(std::string(kProductKey)), MachineFolder(std::string(kSettingsKey))});
    Calls calls;
    const std::int64_t before = CurrentTimeStamp();
    EXPECT_EQ(ApplySettings(SomeValues(), calls.Operations()), 0);

    EXPECT_EQ(order.Names(), (std::vector<std::string>{
                                 "SoftwareBeta.value", "SoftwareBuild.value", "Username.value",
                                 "Password.value", "Hostname.value", "Interval.value",
                                 "Service.value", "LocalFilter.value", "WirelessFilter.value",
                                 "LocalNetworks.value", "WirelessNetworks.value", "Time.value"}));
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBeta), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBuild), 294);
    EXPECT_EQ(ReadRegistryString(kMachine, kSettingsKey, kValueUsername), "alice");
    EXPECT_EQ(ReadProtectedPassword(kMachine, kSettingsKey, kValuePassword, hardware_), "pa55word");
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueInterval), 30);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueService), 5);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueLocalFilter), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueWirelessFilter), 0);
    // An empty entry would end the stored list early; it is left out.
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueLocalNetworks),
              "home\noffice\n\n");
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueWirelessNetworks),
              "CafeWifi\n\n");
    ExpectTimeStampedNow(before);
    EXPECT_EQ(calls.log, (std::vector<std::string>{"autostart 16", "exists"}));

    // The IPv6 choice, never written while it was never on, comes right before the time stamp
    // once it is on, and is written again when it is turned off.
    SettingsValues dual = SomeValues();
    dual.ipv6 = true;
    ApplySettings(dual, {});
    std::vector<std::string> names = order.Names();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], "IPv6.value");
    EXPECT_EQ(names.back(), "Time.value");
    dual.ipv6 = false;
    ApplySettings(dual, {});
    names = order.Names();
    EXPECT_NE(std::find(names.begin(), names.end(), "IPv6.value"), names.end());
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueIPv6), 0);
}

TEST_F(MigrationTest, ApplyKeepsStoredTextsForEmptyFieldsAndAbsentLists) {
    ASSERT_EQ(ApplySettings(SomeValues(), {}), 0);
    SettingsValues cleared;
    cleared.password = "";
    cleared.localNetworks = std::vector<std::string>{};
    ASSERT_EQ(ApplySettings(cleared, {}), 0);
    EXPECT_EQ(ReadRegistryString(kMachine, kSettingsKey, kValueUsername), "alice");
    EXPECT_EQ(ReadRegistryString(kMachine, kSettingsKey, kValueHostname), "alice.example");
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueLocalNetworks),
              "home\noffice\n\n");
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueWirelessNetworks),
              "CafeWifi\n\n");
    // The password, the numbers and the beta choice are always written.
    EXPECT_EQ(ReadRegistryBinary(kMachine, kSettingsKey, kValuePassword).size(), 32u);
    EXPECT_EQ(ReadProtectedPassword(kMachine, kSettingsKey, kValuePassword, hardware_), "");
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueInterval), 0);
    EXPECT_EQ(ReadRegistryDword(kMachine, kSettingsKey, kValueLocalFilter), 0);
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBeta), 0);
}

TEST_F(MigrationTest, ApplyTellsAnInstalledServiceAndStartsTheUpdateOnlyForAnAdministrator) {
    Calls calls;
    calls.serviceExists = 1;
    ApplySettings(SomeValues(), calls.Operations());
    EXPECT_EQ(calls.log, (std::vector<std::string>{"autostart 16", "exists", "control 128"}));

    calls.log.clear();
    calls.admin = 1;
    ApplySettings(SomeValues(), calls.Operations());
    EXPECT_EQ(calls.log,
              (std::vector<std::string>{"autostart 16", "exists", "control 128", "start /update"}));

    calls.log.clear();
    calls.serviceExists = 0;
    SettingsValues noBeta = SomeValues();
    noBeta.beta = false;
    noBeta.autostartMode = kAutostartOff;
    ApplySettings(noBeta, calls.Operations());
    EXPECT_EQ(calls.log, (std::vector<std::string>{"autostart 0", "exists"}));
}

}  // namespace
}  // namespace quarnel
