// Change notification: a watcher wakes for changes that another process makes below the
// watched key, and for nothing else.

#include "settings/registry_watch.h"

#include <signal.h>
#include <time.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

#include "settings/registry.h"
#include "tests/settings/store_fixture.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kProduct = "SOFTWARE\\Quarnel Updater";
constexpr const char* kSettings = "SOFTWARE\\Quarnel Updater\\Settings";
constexpr const char* kService = "SOFTWARE\\Quarnel Updater\\Service";
constexpr const char* kSubkey = "SOFTWARE\\Quarnel Updater\\Settings\\Sub";
// Long enough for any loaded machine; a wait that should fire returns as soon as it does.
constexpr std::int64_t kGenerousMs = 10000;

// Whether the handle has fired for what happened so far. The changes of a child that has
// exited are already queued, so no waiting is needed to see them.
bool FiredNow(WaitHandle& handle) {
    return WaitForHandles(&handle, 1, 0, false) == kWaitObject0;
}

// Runs the changes in another process and waits until they are done.
void InOtherProcess(const std::function<void()>& changes) {
    ASSERT_EQ(test::RunInChild([&changes] {
                  changes();
                  return 0;
              }),
              0);
}

class RegistryWatchTest : public test::StoreTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(CreateRegistryKey(kMachine, kSubkey), 1);
        ASSERT_EQ(CreateRegistryKey(kMachine, kService), 1);
        ASSERT_EQ(WriteRegistryDword(kMachine, kSettings, "Interval", 5), 1);
    }
};

TEST_F(RegistryWatchTest, WakesForValueWritesAndDeletionsInAnotherProcess) {
    WaitHandle handle = RegistryChangeEvent(kMachine, kSettings, false, "", -1);
    ASSERT_TRUE(handle);
    EXPECT_FALSE(FiredNow(handle));

    InOtherProcess([] { WriteRegistryDword(kMachine, kSettings, "Interval", 10); });
    EXPECT_EQ(WaitForHandles(&handle, 1, kGenerousMs, false), kWaitObject0);
    // Taken: the same change does not fire twice.
    EXPECT_FALSE(FiredNow(handle));

    InOtherProcess([] { DeleteRegistryValue(kMachine, kSettings, "INTERVAL"); });
    EXPECT_TRUE(FiredNow(handle));

    // Several changes while nobody waits fire one wait.
    InOtherProcess([] {
        WriteRegistryString(kMachine, kSettings, "Username", "alice");
        WriteRegistryString(kMachine, kSettings, "Hostname", "h.example");
    });
    EXPECT_TRUE(FiredNow(handle));
    EXPECT_FALSE(FiredNow(handle));
    EXPECT_EQ(CloseWaitHandle(handle), 0);
    EXPECT_FALSE(handle);
}

TEST_F(RegistryWatchTest, IgnoresChangesOutsideTheKeyAndTheStoresTemporaryFiles) {
    WaitHandle handle = RegistryChangeEvent(kMachine, kSettings, false, "", -1);
    ASSERT_TRUE(handle);
    InOtherProcess([] {
        WriteRegistryDword(kMachine, kService, "Time", 1);             // a sibling key
        WriteRegistryDword(kMachine, kProduct, "SoftwareBuild", 294);  // the parent key
        WriteRegistryDword(kMachine, kSubkey, "Value", 1);             // below, without subtree
        CreateRegistryKey(kMachine, "SOFTWARE\\Quarnel Updater\\Settings2");
    });
    EXPECT_FALSE(FiredNow(handle));
    // What a write in progress or a killed writer leaves behind is no change.
    std::ofstream(MachineFolder(kSettings) + "/.tmp.1.2.3") << "REGVALUE 4 4\n";
    EXPECT_FALSE(FiredNow(handle));
}

TEST_F(RegistryWatchTest, SubkeysCountAsNamesWithoutSubtreeAndWholeWithIt) {
    WaitHandle flat = RegistryChangeEvent(kMachine, kSettings, false, "", -1);
    WaitHandle tree = RegistryChangeEvent(kMachine, kSettings, true, "", -1);
    ASSERT_TRUE(flat && tree);

    InOtherProcess([] { WriteRegistryDword(kMachine, kSubkey, "Value", 1); });
    EXPECT_FALSE(FiredNow(flat));
    EXPECT_TRUE(FiredNow(tree));

    // A key created after the watch started: its creation counts for both; with subtree, so do
    // the changes inside it, however deep.
    InOtherProcess([] { CreateRegistryKey(kMachine, std::string(kSettings) + "\\New"); });
    EXPECT_TRUE(FiredNow(flat));
    EXPECT_TRUE(FiredNow(tree));
    InOtherProcess(
        [] { CreateRegistryKey(kMachine, std::string(kSettings) + "\\New\\Deeper\\Deepest"); });
    EXPECT_FALSE(FiredNow(flat));
    EXPECT_TRUE(FiredNow(tree));
    InOtherProcess([] {
        WriteRegistryDword(kMachine, std::string(kSettings) + "\\New\\Deeper\\Deepest", "V", 2);
    });
    EXPECT_FALSE(FiredNow(flat));
    EXPECT_TRUE(FiredNow(tree));

    // Deleting a subkey counts for both.
    InOtherProcess([] { registry_store::DeleteKey(kMachine, kSubkey); });
    EXPECT_TRUE(FiredNow(flat));
    EXPECT_TRUE(FiredNow(tree));
}

TEST_F(RegistryWatchTest, DeletingTheWatchedKeyFires) {
    WaitHandle handle = RegistryChangeEvent(kMachine, kSubkey, false, "", -1);
    ASSERT_TRUE(handle);
    InOtherProcess([] { registry_store::DeleteKey(kMachine, kSubkey); });
    EXPECT_TRUE(FiredNow(handle));
}

TEST_F(RegistryWatchTest, MissingKeysAndRemoteComputersGiveNoHandle) {
    EXPECT_FALSE(RegistryChangeEvent(kMachine, "SOFTWARE\\Missing", false, "", -1));
    EXPECT_FALSE(RegistryChangeEvent(kMachine, kSettings, false, "server", -1));
    EXPECT_EQ(WaitForRegistryChange(kMachine, "SOFTWARE\\Missing", 100, false, ""), 0);
    EXPECT_EQ(WaitForRegistryChange(kMachine, kSettings, 100, false, "server"), 0);
    // A handle name given in another letter case is the same key.
    EXPECT_TRUE(RegistryChangeEvent(kMachine, "software\\QUARNEL updater\\settings", true, "", 0));
}

TEST_F(RegistryWatchTest, WaitForRegistryChangeReturnsOnAChangeOrAfterItsTimeOut) {
    EXPECT_EQ(WaitForRegistryChange(kMachine, kSettings, 200, false, ""), 0);

    // The other process keeps writing (bounded) until the wait has seen a write.
    const pid_t writer = test::StartChild([] {
        for (int round = 0; round < 200; ++round) {
            WriteRegistryDword(kMachine, kSettings, "Interval", round);
            const struct timespec pause = {0, 50 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
        }
        return 0;
    });
    EXPECT_EQ(WaitForRegistryChange(kMachine, kSettings, kGenerousMs, false, ""), 1);
    ::kill(writer, SIGKILL);
    test::WaitForChild(writer);
}

TEST_F(RegistryWatchTest, AHandleNeverFiresOnceItsTimeOutAndGraceHavePassed) {
    WaitHandle handle = RegistryChangeEvent(kMachine, kSettings, false, "", 0);
    ASSERT_TRUE(handle);
    InOtherProcess([] { WriteRegistryDword(kMachine, kSettings, "Interval", 30); });
    EXPECT_TRUE(FiredNow(handle));  // within the time-out plus one second

    // Past the time-out plus its second of grace, changes no longer count.
    const struct timespec pause = {1, 200 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
    InOtherProcess([] { WriteRegistryDword(kMachine, kSettings, "Interval", 60); });
    EXPECT_FALSE(FiredNow(handle));
    InOtherProcess([] { WriteRegistryDword(kMachine, kSettings, "Interval", 120); });
    EXPECT_EQ(WaitForHandles(&handle, 1, 100, false), kWaitTimeout);
}

}  // namespace
}  // namespace quarnel
