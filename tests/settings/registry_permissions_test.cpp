// Who may read and write the store: machine-wide settings readable by everyone and writable by
// their owner only, the password and the user's own hive private.

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/registry_watch.h"
#include "tests/settings/store_fixture.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr RegistryHive kUser = RegistryHive::CurrentUser;
constexpr const char* kKey = "SOFTWARE\\Quarnel Updater\\Settings";
constexpr uid_t kNobody = 65534;

unsigned ModeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFF;
}

class ScopedUmask {
  public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }

  private:
    mode_t previous_;
};

class RegistryPermissionsTest : public test::StoreTest {};

TEST_F(RegistryPermissionsTest, ModesAreExactWhateverTheUmask) {
    for (const mode_t mask : {mode_t{077}, mode_t{0}}) {
        SCOPED_TRACE(mask);
        const ScopedUmask umask(mask);
        const std::string key = std::string(kKey) + "\\Mask" + std::to_string(mask);
        ASSERT_EQ(CreateRegistryKey(kMachine, key), 1);
        ASSERT_EQ(WriteRegistryString(kMachine, key, "Username", "alice"), 1);
        ASSERT_EQ(WriteProtectedPassword(kMachine, key, "Password", "secret", "material"), 1);
        ASSERT_EQ(WriteRegistryString(kMachine, key, "PASSWORD", "also secret"), 1);
        const std::string folder = MachineFolder(key);
        for (std::string path = folder; path.size() > Root().size();
             path = path.substr(0, path.rfind('/'))) {
            EXPECT_EQ(ModeOf(path), 0755u) << path;
        }
        EXPECT_EQ(ModeOf(folder + "/Username.value"), 0644u);
        EXPECT_EQ(ModeOf(folder + "/Password.value"), 0600u);

        ASSERT_EQ(CreateRegistryKey(kUser, key), 1);
        ASSERT_EQ(WriteRegistryDword(kUser, key, "Interval", 5), 1);
        std::string userFolder = UserHive() + "/" + key;
        std::replace(userFolder.begin(), userFolder.end(), '\\', '/');
        for (std::string path = userFolder; path.size() > Root().size() + 7;
             path = path.substr(0, path.rfind('/'))) {
            EXPECT_EQ(ModeOf(path), 0700u) << path;
        }
        EXPECT_EQ(ModeOf(userFolder + "/Interval.value"), 0600u);
    }
}

TEST_F(RegistryPermissionsTest, OtherUsersReadSettingsButNeitherThePasswordNorWrite) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a child as another user";
    }
    ASSERT_EQ(::chmod(Root().c_str(), 0755), 0);
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    ASSERT_EQ(WriteRegistryString(kMachine, kKey, "Username", "alice"), 1);
    ASSERT_EQ(WriteProtectedPassword(kMachine, kKey, "Password", "secret", "material"), 1);
    ASSERT_EQ(CreateRegistryKey(kMachine, "SOFTWARE\\Closed"), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, "SOFTWARE\\Closed", "Value", 7), 1);
    ASSERT_EQ(::chmod(MachineFolder("SOFTWARE\\Closed").c_str(), 0700), 0);

    const int failures = test::RunInChild([] {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0) {
            return 100;
        }
        int failed = 0;
        auto check = [&failed](bool ok, int bit) { failed |= ok ? 0 : bit; };
        check(ReadRegistryString(kMachine, kKey, "Username") == "alice", 1);
        check(RegistryKeyExists(kMachine, kKey) == 1, 2);
        check(ReadRegistryBinary(kMachine, kKey, "Password").empty(), 4);
        check(ReadProtectedPassword(kMachine, kKey, "Password", "material").empty(), 4);
        check(WriteRegistryString(kMachine, kKey, "Username", "mallory") == 0, 8);
        check(DeleteRegistryValue(kMachine, kKey, "Username") == 0, 8);
        check(CreateRegistryKey(kMachine, std::string(kKey) + "\\Sub") == 0, 16);
        check(RegistryKeyExists(kMachine, "SOFTWARE\\Closed") == 0, 32);
        check(ReadRegistryDword(kMachine, "SOFTWARE\\Closed", "Value") == 0, 32);
        check(RegistryChangeEvent(kMachine, "SOFTWARE\\Closed", false, "", -1) == nullptr, 32);
        check(RegistryChangeEvent(kMachine, kKey, false, "", -1) != nullptr, 64);
        return failed;
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(ReadRegistryString(kMachine, kKey, "Username"), "alice");
    EXPECT_EQ(ReadProtectedPassword(kMachine, kKey, "Password", "material"), "secret");
}

TEST_F(RegistryPermissionsTest, StaleTemporaryFilesOfKilledWritersAreRemoved) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    const std::string folder = MachineFolder(kKey);
    for (const char* name : {".tmp.1.1.0", ".tmp.2.2.0"}) {
        std::ofstream(folder + "/" + name) << "REGVALUE 4 4\n";
    }
    const struct timespec old[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (folder + "/.tmp.1.1.0").c_str(), old, 0), 0);
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, ".tmp.1.1.0"), 0);
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    // The fresh one may belong to a write in progress and stays.
    EXPECT_EQ(test::ListFolder(folder), std::vector<std::string>{".tmp.2.2.0"});
}

}  // namespace
}  // namespace quarnel
