// Who may read and write the store: machine-wide settings readable by everyone and writable by
// their owner only, the password and the user's own hive private.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

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
    struct stat info = {};
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

TEST_F(RegistryPermissionsTest, OnlyTemporaryFilesOfKilledWritersAreRemovedByEveryWrite) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    const std::string folder = MachineFolder(kKey);
    // A killed writer's file, one of a writer that is still at work (it holds its lock), and a
    // fresh one.
    for (const char* name : {".tmp.1.1.0", ".tmp.3.3.0", ".tmp.2.2.0"}) {
        std::ofstream(folder + "/" + name) << "REGVALUE 4 4\n";
    }
    const struct timespec old[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
    for (const char* name : {".tmp.1.1.0", ".tmp.3.3.0"}) {
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder + "/" + name).c_str(), old, 0), 0);
    }
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const std::string live = folder + "/.tmp.3.3.0";
    const pid_t writer = test::StartChild([&] {
        const int fd = ::open(live.c_str(), O_RDWR | O_CLOEXEC);
        const char state = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
        (void)!::write(ready[1], &state, 1);
        ::pause();
        return 0;
    });
    ASSERT_GT(writer, 0);
    char state = '0';
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    ASSERT_EQ(state, '1');
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, ".tmp.1.1.0"), 0);
    // A write into the key clears up, not only the creation of a key.
    ASSERT_EQ(WriteRegistryDword(kMachine, kKey, "Interval", 5), 1);
    EXPECT_EQ(test::ListFolder(folder),
              (std::vector<std::string>{".tmp.2.2.0", ".tmp.3.3.0", "Interval.value"}));
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    // Once its writer is gone it is a leftover like any other.
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    EXPECT_EQ(test::ListFolder(folder), (std::vector<std::string>{".tmp.2.2.0", "Interval.value"}));
}

TEST_F(RegistryPermissionsTest, AValueLargerThanReadersAcceptIsNotWritten) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    ASSERT_EQ(WriteRegistryMultiString(kMachine, kKey, "LocalNetworks", "home\n"), 1);
    // Nine million characters are 18 MB as UTF-16; readers take 16 MiB at most.
    EXPECT_EQ(
        WriteRegistryMultiString(kMachine, kKey, "LocalNetworks", std::string(9000000, 'n') + "\n"),
        0);
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kKey, "LocalNetworks"), "home\n\n");
    // Just below the bound is written and read back whole.
    const std::string large(8000000, 'w');
    EXPECT_EQ(WriteRegistryMultiString(kMachine, kKey, "WirelessNetworks", large + "\n"), 1);
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kKey, "WirelessNetworks"), large + "\n\n");
}

}  // namespace
}  // namespace quarnel
