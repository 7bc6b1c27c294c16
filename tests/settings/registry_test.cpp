#include "settings/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/registry_value_file.h"
#include "tests/settings/store_fixture.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kKey = "SOFTWARE\\Quarnel Updater\\Settings";

class RegistryTest : public test::StoreTest {
  protected:
    std::string KeyFolder() const { return MachineFolder(kKey); }
    void WriteRaw(const std::string& name, const std::string& bytes) const {
        std::ofstream(KeyFolder() + "/" + name, std::ios::binary) << bytes;
    }
};

TEST_F(RegistryTest, WritersNeedAnExistingKeyAndCreateKeyMakesParents) {
    EXPECT_EQ(WriteRegistryDword(kMachine, kKey, "Interval", 5), 0);
    EXPECT_EQ(RegistryKeyExists(kMachine, kKey), 0);
    EXPECT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    EXPECT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    EXPECT_EQ(RegistryKeyExists(kMachine, "SOFTWARE\\Quarnel Updater"), 1);
    EXPECT_EQ(WriteRegistryDword(kMachine, kKey, "Interval", 5), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, "Interval"), 5);
    EXPECT_EQ(ReadRegistryDword(RegistryHive::CurrentUser, kKey, "Interval"), 0);
}

TEST_F(RegistryTest, ValueFileHoldsAHeaderAndTheRegistryBytes) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kKey, "Interval", 0x01020304), 1);
    ASSERT_EQ(WriteRegistryString(kMachine, kKey, "Hostname", "h\xC3\xA4"), 1);
    EXPECT_EQ(test::ReadFileText(KeyFolder() + "/Interval.value"),
              std::string("REGVALUE 4 4\n\x04\x03\x02\x01", 17));
    EXPECT_EQ(test::ReadFileText(KeyFolder() + "/Hostname.value"),
              std::string("REGVALUE 1 6\nh\0\xE4\0\0\0", 19));
}

TEST_F(RegistryTest, DwordReadsSignedAndShortValuesAreZeroExtended) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kKey, "Time", 0xFFFFFFFFll), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, "Time"), -1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kKey, "Time", 0x1'0000'0007ll), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, "Time"), 7);
    WriteRaw("Short.value", std::string("REGVALUE 4 2\n\x34\x12", 15));
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, "Short"), 0x1234);
    WriteRaw("Long.value", std::string("REGVALUE 4 6\n\x01\0\0\0\xFF\xFF", 19));
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, "Long"), 1);
}

TEST_F(RegistryTest, WrongTypesAndEmptyValuesReadAsEmpty) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    WriteRaw("Expand.value", std::string("REGVALUE 2 4\na\0\0\0", 17));
    EXPECT_EQ(ReadRegistryString(kMachine, kKey, "Expand"), "");
    ASSERT_EQ(WriteRegistryString(kMachine, kKey, "Text", "abc"), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, "Text"), 0);
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kKey, "Text"), "");
    EXPECT_TRUE(ReadRegistryBinary(kMachine, kKey, "Text").empty());
    ASSERT_EQ(WriteRegistryBinary(kMachine, kKey, "Empty", nullptr, 0), 1);
    EXPECT_TRUE(ReadRegistryBinary(kMachine, kKey, "Empty").empty());
}

TEST_F(RegistryTest, StringsWithoutTerminatorAreReadWholeAndEmptyTextsAreNeverWritten) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    // The last unit keeps its high byte: U+20AC.
    WriteRaw("Raw.value", std::string("REGVALUE 1 6\nabc", 16).replace(13, 3, "a\0b\0\xAC\x20", 6));
    EXPECT_EQ(ReadRegistryString(kMachine, kKey, "Raw"), "ab\xE2\x82\xAC");
    WriteRaw("Odd.value", std::string("REGVALUE 1 3\na\0b", 16));
    EXPECT_EQ(ReadRegistryString(kMachine, kKey, "Odd"), "ab");

    ASSERT_EQ(WriteRegistryString(kMachine, kKey, "Hostname", "old.example"), 1);
    EXPECT_EQ(WriteRegistryString(kMachine, kKey, "Hostname", ""), 0);
    EXPECT_EQ(ReadRegistryString(kMachine, kKey, "Hostname"), "old.example");
    EXPECT_EQ(WriteRegistryMultiString(kMachine, kKey, "Hostname", ""), 0);
}

TEST_F(RegistryTest, MultiStringsTravelAsLineFeedSeparatedText) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    ASSERT_EQ(WriteRegistryMultiString(kMachine, kKey, "LocalNetworks", "home\noffice\n"), 1);
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kKey, "LocalNetworks"), "home\noffice\n\n");
    EXPECT_EQ(test::ReadFileText(KeyFolder() + "/LocalNetworks.value"),
              std::string("REGVALUE 7 26\nh\0o\0m\0e\0\0\0o\0f\0f\0i\0c\0e\0\0\0\0\0", 40));
    ASSERT_EQ(WriteRegistryMultiString(kMachine, kKey, "Crlf", "a\r\nb"), 1);
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kKey, "Crlf"), "a\r\nb\n");
}

TEST_F(RegistryTest, NamesMatchWithoutRegardToCaseAndKeepTheirFirstCase) {
    ASSERT_EQ(CreateRegistryKey(kMachine, "Software\\Quarnel Updater\\SETTINGS"), 1);
    EXPECT_EQ(RegistryKeyExists(kMachine, kKey), 1);
    ASSERT_EQ(WriteRegistryString(kMachine, kKey, "UserName", "alice"), 1);
    ASSERT_EQ(
        WriteRegistryString(kMachine, "SOFTWARE\\quarnel updater\\settings", "USERNAME", "bob"), 1);
    EXPECT_EQ(ReadRegistryString(kMachine, kKey, "username"), "bob");
    const auto files = test::ListFolder(MachineFolder("Software\\Quarnel Updater\\SETTINGS"));
    EXPECT_EQ(files, std::vector<std::string>{"UserName.value"});
    EXPECT_EQ(DeleteRegistryValue(kMachine, kKey, "USERNAME"), 1);
    EXPECT_EQ(DeleteRegistryValue(kMachine, kKey, "USERNAME"), 0);
    EXPECT_EQ(ReadRegistryString(kMachine, kKey, "UserName"), "");
}

TEST_F(RegistryTest, CorruptFilesAndStrayEntriesReadAsAbsent) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    WriteRaw("Truncated.value", std::string("REGVALUE 4 4\n\x01\x02", 15));
    WriteRaw("NoHeader.value", "garbage");
    WriteRaw("BadType.value", "REGVALUE x 4\nabcd");
    WriteRaw("Extra.value", "REGVALUE 4 4 junk\nabcd");
    WriteRaw("Stray.txt", "REGVALUE 4 4\nabcd");
    std::filesystem::create_directory(KeyFolder() + "/Folder.value");
    for (const char* name : {"Truncated", "NoHeader", "BadType", "Extra", "Stray", "Folder"}) {
        EXPECT_EQ(ReadRegistryDword(kMachine, kKey, name), 0) << name;
    }
}

// The header's numbers are read as the store writes them; a sign, a second blank, or anything
// hidden behind a zero byte is damage, not a value (a negative size once wrapped around to match
// the bytes that follow).
TEST_F(RegistryTest, HeadersTheStoreNeverWritesReadAsAbsent) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    WriteRaw("Plus.value", std::string("REGVALUE +4 4\n\x07\0\0\0", 18));
    WriteRaw("Minus.value", std::string("REGVALUE 4 -18446744073709551612\n\x07\0\0\0", 37));
    WriteRaw("Blanks.value", std::string("REGVALUE  4  4\n\x07\0\0\0", 19));
    WriteRaw("Tab.value", std::string("REGVALUE 4\t4\n\x07\0\0\0", 17));
    WriteRaw("Zero.value", std::string("REGVALUE 4 4\0junk\n\x07\0\0\0", 22));
    WriteRaw("Huge.value", std::string("REGVALUE 4 99999999999999999999\n\x07\0\0\0", 36));
    WriteRaw("Plain.value", std::string("REGVALUE 4 4\n\x07\0\0\0", 17));
    for (const char* name : {"Plus", "Minus", "Blanks", "Tab", "Zero", "Huge"}) {
        EXPECT_EQ(ReadRegistryDword(kMachine, kKey, name), 0) << name;
    }
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, "Plain"), 7);

    // The type is a 32-bit number: its largest value is read, one more is not.
    const auto parse = [](const std::string& text, RegistryValue& value) {
        return registry_store::ParseValueFile({text.begin(), text.end()}, value);
    };
    RegistryValue value;
    EXPECT_TRUE(parse("REGVALUE 4294967295 1\nx", value));
    EXPECT_EQ(value.type, 0xFFFFFFFFu);
    EXPECT_FALSE(parse("REGVALUE 4294967296 1\nx", value));
}

TEST_F(RegistryTest, PathsCannotLeaveTheHive) {
    EXPECT_EQ(CreateRegistryKey(kMachine, "..\\..\\escape"), 1);
    EXPECT_EQ(CreateRegistryKey(kMachine, "a/../../b"), 1);
    EXPECT_EQ(CreateRegistryKey(kMachine, "x\\\\y"), 0);
    EXPECT_EQ(CreateRegistryKey(kMachine, "\\x"), 0);
    ASSERT_EQ(WriteRegistryString(kMachine, "..\\..\\escape", "../name", "v"), 1);
    EXPECT_EQ(ReadRegistryString(kMachine, "..\\..\\escape", "../name"), "v");
    const std::string hive = Root() + "/var/lib/quarnel-updater/registry";
    EXPECT_EQ(test::ListFolder(hive), std::vector<std::string>{"HKEY_LOCAL_MACHINE"});
    EXPECT_EQ(test::ListFolder(hive + "/HKEY_LOCAL_MACHINE"),
              (std::vector<std::string>{"%2E.", "a%2F..%2F..%2Fb"}));
}

TEST_F(RegistryTest, RemoteMachinesGiveEmptyResults) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    ASSERT_EQ(WriteRegistryDword(kMachine, kKey, "Interval", 5), 1);
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, "Interval", "server"), 0);
    EXPECT_EQ(WriteRegistryDword(kMachine, kKey, "Interval", 6, "server"), 0);
    EXPECT_EQ(RegistryKeyExists(kMachine, kKey, "server"), 0);
    EXPECT_EQ(CreateRegistryKey(kMachine, "Other", 0, "server"), 0);
    EXPECT_EQ(ReadRegistryDword(kMachine, kKey, "Interval"), 5);
}

}  // namespace
}  // namespace quarnel
