// The real program's installation switch leaves a store that standard tools can read.

#include <stdio.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/settings/store_fixture.h"

namespace quarnel {
namespace {

// Runs a shell command and returns what it printed, with blanks and line ends removed.
std::string Shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        ::pclose(pipe);
    }
    std::erase_if(output, [](char c) { return c == ' ' || c == '\n'; });
    return output;
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

// A DWORD read the way the store's documentation shows.
std::string DwordByHand(const std::string& valueFile) {
    return Shell("tail -n +2 " + Quoted(valueFile) + " | od -An -t d4");
}

class InstallTest : public test::StoreTest {
  protected:
    test::ProgramResult Install(const std::string& sudoUid) {
        return test::RunProgram({"/install"}, {{"QUARNEL_ROOT", Root()},
                                               {"XDG_CONFIG_HOME", "/config"},
                                               {"XDG_STATE_HOME", "/state"},
                                               {"SUDO_UID", sudoUid},
                                               {"PKEXEC_UID", ""}});
    }
};

TEST_F(InstallTest, InstallLeavesTheCurrentBuildAndDefaultSettingsReadableByHand) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "installation runs as root";
    }
    WriteMachineId("00112233445566778899aabbccddeeff\n");
    const auto result = Install("");
    ASSERT_NE(result.exitCode, -1) << result.output;

    const std::string product = MachineFolder("SOFTWARE\\Quarnel Updater");
    const std::string settings = product + "/Settings";
    EXPECT_EQ(DwordByHand(product + "/SoftwareBuild.value"), "294");
    EXPECT_EQ(DwordByHand(settings + "/Interval.value"), "5");
    EXPECT_EQ(DwordByHand(settings + "/Service.value"), "0");
    const std::string time = DwordByHand(settings + "/Time.value");
    ASSERT_FALSE(time.empty());
    EXPECT_NE(time, "0");
    EXPECT_EQ(Shell("head -n 1 " + Quoted(settings + "/Time.value")), "REGVALUE44");
    struct stat info = {};
    ASSERT_EQ(::stat(settings.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    // Installed as plain root: no user identity is recorded.
    EXPECT_FALSE(std::filesystem::exists(Root() +
                                         "/var/lib/quarnel-updater/registry/HKEY_CLASSES_ROOT/"
                                         "CLSID"));

    // A second installation, on behalf of a user, records that user and migrates nothing.
    const auto again = Install("65534");
    ASSERT_NE(again.exitCode, -1) << again.output;
    EXPECT_EQ(DwordByHand(settings + "/Time.value"), time);
    const std::string identity = Root() +
                                 "/var/lib/quarnel-updater/registry/HKEY_CLASSES_ROOT/CLSID/"
                                 "{B7D5E900-AF40-11DD-AD8B-0800200C9A00}/SecurityIdentifier.value";
    EXPECT_EQ(
        Shell("tail -n +2 " + Quoted(identity) + " | iconv -f UTF-16LE -t UTF-8 | tr -d '\\0'"),
        "S-1-22-1-65534");
}

}  // namespace
}  // namespace quarnel
