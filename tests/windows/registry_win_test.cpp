// The registry store and its change notification on the real (Wine) registry.

#include <cstdint>
#include <vector>

#include "platform/registry_store.h"
#include "platform/registry_watch.h"
#include "settings/registry.h"
#include "tests/windows/windows_fixture.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;
constexpr const char* kKey = "SOFTWARE\\Quarnel Updater\\Settings";

class RegistryWinTest : public test::RegistryRootTest {
  protected:
    void SetUp() override { ASSERT_EQ(CreateRegistryKey(kHive, kKey), 1); }
};

TEST_F(RegistryWinTest, EveryValueTypeReadsBackAsWrittenAndNamesIgnoreLetterCase) {
    ASSERT_EQ(WriteRegistryDword(kHive, kKey, "Interval", 45), 1);
    ASSERT_EQ(WriteRegistryString(kHive, kKey, "Hostname", "h\xC3\xB6st.example.org"), 1);
    ASSERT_EQ(WriteRegistryMultiString(kHive, kKey, "LocalNetworks", "one\ntwo\n"), 1);
    const std::uint8_t bytes[] = {0, 1, 2, 0xFF};
    ASSERT_EQ(WriteRegistryBinary(kHive, kKey, "Password", bytes, sizeof bytes), 1);
    EXPECT_EQ(ReadRegistryDword(kHive, kKey, "INTERVAL"), 45);
    EXPECT_EQ(ReadRegistryString(kHive, kKey, "hostname"), "h\xC3\xB6st.example.org");
    // Each entry ends in a line feed, the list terminator too, as on Linux.
    EXPECT_EQ(ReadRegistryMultiString(kHive, kKey, "LocalNetworks"), "one\ntwo\n\n");
    EXPECT_EQ(ReadRegistryBinary(kHive, kKey, "Password"),
              std::vector<std::uint8_t>(bytes, bytes + sizeof bytes));
    // A wrongly typed or missing value reads as 0 or the empty text.
    EXPECT_EQ(ReadRegistryDword(kHive, kKey, "Hostname"), 0);
    EXPECT_EQ(ReadRegistryString(kHive, kKey, "Missing"), "");
    EXPECT_EQ(DeleteRegistryValue(kHive, kKey, "Interval"), 1);
    EXPECT_EQ(ReadRegistryDword(kHive, kKey, "Interval"), 0);
}

TEST_F(RegistryWinTest, KeysAreMadeWithTheirParentsAndOnlyEmptyOnesAreDeleted) {
    EXPECT_EQ(RegistryKeyExists(kHive, "SOFTWARE\\Quarnel Updater\\Settings\\A\\B"), 0);
    ASSERT_TRUE(registry_store::CreateKey(kHive, "SOFTWARE\\Quarnel Updater\\Settings\\A\\B"));
    EXPECT_FALSE(registry_store::DeleteKey(kHive, "SOFTWARE\\Quarnel Updater\\Settings\\A"));
    EXPECT_TRUE(registry_store::DeleteKey(kHive, "SOFTWARE\\Quarnel Updater\\Settings\\A\\B"));
    EXPECT_FALSE(registry_store::CreateKey(kHive, "SOFTWARE\\\\Empty"));
    EXPECT_FALSE(registry_store::KeyExists(kHive, "\\SOFTWARE"));
}

TEST_F(RegistryWinTest, AWatchFiresForChangesBelowItsKeyUntilItExpires) {
    WaitHandle watch = registry_store::WatchKey(kHive, "SOFTWARE\\Quarnel Updater", true, -1);
    ASSERT_TRUE(watch);
    EXPECT_EQ(WaitForHandles(&watch, 1, 100, false), kWaitTimeout);
    ASSERT_EQ(WriteRegistryDword(kHive, kKey, "Time", 1), 1);
    EXPECT_EQ(WaitForHandles(&watch, 1, 5000, false), kWaitObject0);
    // Each fired wait asks for the next change.
    ASSERT_EQ(WriteRegistryDword(kHive, kKey, "Time", 2), 1);
    EXPECT_EQ(WaitForHandles(&watch, 1, 5000, false), kWaitObject0);

    WaitHandle expiring = registry_store::WatchKey(kHive, kKey, false, 50);
    ASSERT_TRUE(expiring);
    ::Sleep(200);
    ASSERT_EQ(WriteRegistryDword(kHive, kKey, "Time", 3), 1);
    EXPECT_EQ(WaitForHandles(&expiring, 1, 300, false), kWaitTimeout);
    EXPECT_FALSE(registry_store::WatchKey(kHive, "SOFTWARE\\Missing", false, -1));
}

}  // namespace
}  // namespace quarnel
