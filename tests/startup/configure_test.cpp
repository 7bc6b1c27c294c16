// "/configure" and "/status" of the real program, in a temporary tree: settings from standard
// input or typed on a terminal, refused input that changes nothing, and the status report.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/endpoint_value.h"
#include "diagnostics/event_log.h"
#include "libraries/src/service/autostart.h"
#include "platform/child_process.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/startup/program_io.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kMachineId = "00112233445566778899aabbccddeeff";
constexpr const char* kHardwareId = "{00112233-4455-6677-8899-AABBCCDDEEFF}";

class ConfigureTest : public ::testing::Test {
  protected:
    ConfigureTest()
        : rootEnvironment_("QUARNEL_ROOT", root_.Path()),
          configEnvironment_("XDG_CONFIG_HOME", "/home/user/.config") {
        std::filesystem::create_directories(root_.Path() + "/etc");
        std::ofstream(root_.Path() + "/etc/machine-id") << kMachineId << "\n";
    }

    std::map<std::string, std::string> Environment() const {
        return {{"QUARNEL_ROOT", root_.Path()},
                {"XDG_CONFIG_HOME", "/home/user/.config"},
                {"HOME", "/home/user"},
                {"LANG", "C"},
                {"LC_ALL", ""},
                {"LC_MESSAGES", ""}};
    }
    test::ProgramResult Configure(const std::string& input) {
        return test::RunProgramWithInput({"/configure"}, Environment(), input);
    }
    test::ProgramResult Status() { return test::RunProgram({"/status"}, Environment()); }

    // Every file of the machine's store with its content, to prove that nothing changed.
    std::map<std::string, std::string> StoreSnapshot() const {
        std::map<std::string, std::string> files;
        const std::string store = root_.Path() + "/var/lib/quarnel-updater";
        if (!std::filesystem::exists(store)) {
            return files;
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(store)) {
            files[entry.path().string()] =
                entry.is_regular_file() ? test::ReadFileText(entry.path().string()) : "(folder)";
        }
        return files;
    }

    static std::string Setting(std::string_view name) {
        return ReadRegistryString(kMachine, kSettingsKey, name);
    }
    static std::int64_t Number(std::string_view name) {
        return ReadRegistryDword(kMachine, kSettingsKey, name);
    }
    static std::string Password() {
        return ReadProtectedPassword(kMachine, kSettingsKey, kValuePassword, kHardwareId);
    }

    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_;
    test::ScopedEnvironment configEnvironment_;
};

// The value that a status line shows after its label, or "(missing)".
std::string Shown(const std::string& output, const std::string& label) {
    const std::size_t at = output.find("\n" + label);
    if (at == std::string::npos) {
        return "(missing)";
    }
    std::size_t start = at + 1 + label.size();
    while (start < output.size() && output[start] == ' ') {
        ++start;
    }
    return output.substr(start, output.find('\n', start) - start);
}

const char* const kGoodInput =
    "# account of the demo\n"
    "\n"
    "Username = alice\n"
    "Password= s3 cret\n"
    "Hostname=home.example.org,office.example.org\n"
    "provider=No-IP\n"
    "Interval=15\n"
    "LocalFilter=yes\n"
    "LocalNetworks=fritz.box, 192.168.178.1\n"
    "WirelessFilter=0\n"
    "WirelessNetworks=My Home,Cafe\r\n";

TEST_F(ConfigureTest, SettingsFromStandardInputAreStoredAndStatusShowsThemAndTheOutcome) {
    const std::int64_t before = CurrentTimeStamp();
    const auto result = Configure(kGoodInput);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("Settings saved."), std::string::npos);

    EXPECT_EQ(Setting(kValueUsername), "alice");
    EXPECT_EQ(Password(), " s3 cret");  // blanks of a password are kept
    EXPECT_EQ(Setting(kValueHostname), "home.example.org,office.example.org");
    EXPECT_EQ(Number(kValueService), 5);
    EXPECT_EQ(Number(kValueInterval), 15);
    EXPECT_EQ(Number(kValueLocalFilter), 1);
    EXPECT_EQ(Number(kValueWirelessFilter), 0);
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueLocalNetworks),
              "fritz.box\n192.168.178.1\n\n");
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueWirelessNetworks),
              "My Home\nCafe\n\n");
    EXPECT_GE(ReadTimeStamp(kMachine, kSettingsKey, kValueTime), before);
    // Not given, the IPv6 choice is not written at all; given, it is.
    const std::string settings = root_.Path() +
                                 "/var/lib/quarnel-updater/registry/HKEY_LOCAL_MACHINE/SOFTWARE/"
                                 "Quarnel Updater/Settings/";
    EXPECT_FALSE(std::filesystem::exists(settings + "IPv6.value"));
    ASSERT_EQ(Configure("IPv6=on\n").exitCode, 0);
    EXPECT_EQ(Number(kValueIPv6), 1);

    // The service's last outcome, as the update cycle records it.
    CreateRegistryKey(kMachine, kServiceKey);
    WriteRegistryString(kMachine, kServiceKey, kValueResult, "good 198.51.100.7,2001:db8::7");
    WriteRegistryString(kMachine, kServiceKey, kValueIp, "198.51.100.7");
    WriteRegistryString(kMachine, kServiceKey, kValueIp6, "2001:db8::7");
    WriteTimeStamp(kMachine, kServiceKey, kValueTime, 1700000000);  // 2023-11-14 22:13:20
    EventSourceHandle source = OpenEventSource("Quarnel Updater");
    ASSERT_EQ(
        ReportOutcomeEvent(source, kEventRecordTypeWarning, 0, kEventRecordIdWarning, {"badauth"}),
        1);
    ASSERT_EQ(ReportOutcomeEvent(source, kEventRecordTypeInformation, 0, kEventRecordIdInformation,
                                 {"good 198.51.100.7"}),
              1);

    const auto status = Status();
    ASSERT_EQ(status.exitCode, 0) << status.output;
    EXPECT_EQ(Shown(status.output, "Host name:"), "home.example.org,office.example.org");
    EXPECT_EQ(Shown(status.output, "User name:"), "alice");
    EXPECT_EQ(Shown(status.output, "Provider:"), "No-IP");
    EXPECT_EQ(Shown(status.output, "Interval:"), "15 minutes");
    EXPECT_EQ(Shown(status.output, "Local filter:"), "on; networks: fritz.box, 192.168.178.1");
    EXPECT_EQ(Shown(status.output, "Wireless filter:"), "off; networks: My Home, Cafe");
    EXPECT_EQ(Shown(status.output, "IPv6:"), "on");
    EXPECT_EQ(Shown(status.output, "Last update:"), "2023-11-14 22:13:20");
    EXPECT_EQ(Shown(status.output, "Result:"),
              "The update was successful, and the hostname is now updated. New IP: 198.51.100.7, "
              "2001:db8::7");
    EXPECT_EQ(Shown(status.output, "Provider answer:"), "good 198.51.100.7,2001:db8::7");
    EXPECT_EQ(Shown(status.output, "Next step:"), "(missing)");
    EXPECT_EQ(Shown(status.output, "Address:"), "198.51.100.7");
    EXPECT_EQ(Shown(status.output, "IPv6 address:"), "2001:db8::7");
    // The newest record first.
    const std::size_t events = status.output.find("\nNewest events:\n  [");
    ASSERT_NE(events, std::string::npos) << status.output;
    const std::size_t good = status.output.find("] good 198.51.100.7\n", events);
    const std::size_t bad = status.output.find("] badauth\n", events);
    EXPECT_NE(good, std::string::npos) << status.output;
    EXPECT_NE(bad, std::string::npos) << status.output;
    EXPECT_LT(good, bad);
    EXPECT_EQ(status.output.find("s3 cret"), std::string::npos);

    // The last update, after these settings, carried no IPv6 address.
    WriteTimeStamp(kMachine, kServiceKey, kValueTime, CurrentTimeStamp() + 60);
    DeleteRegistryValue(kMachine, kServiceKey, kValueIp6);
    EXPECT_EQ(Shown(Status().output, "IPv6 address:").substr(0, 32),
              "none found at the last update (n");
}

TEST_F(ConfigureTest, WhatIsNotGivenKeepsItsStoredValueAndTheTrayAutostartSurvives) {
    ASSERT_EQ(Configure(kGoodInput).exitCode, 0);
    CreateRegistryKey(kMachine, kProductKey);
    WriteRegistryDword(kMachine, kProductKey, kValueSoftwareBeta, 1);
    ASSERT_EQ(test::RunProgram({"/userstart"}, Environment()).exitCode, AutostartThisUser);

    const auto result = Configure("Interval=30\n");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(Number(kValueInterval), 30);
    EXPECT_EQ(Setting(kValueHostname), "home.example.org,office.example.org");
    EXPECT_EQ(Setting(kValueUsername), "alice");
    EXPECT_EQ(Password(), " s3 cret");
    EXPECT_EQ(Number(kValueService), 5);
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueWirelessNetworks),
              "My Home\nCafe\n\n");
    // Applying writes the beta choice and the autostart mode too: both stay as they were.
    EXPECT_EQ(ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBeta), 1);
    EXPECT_EQ(GetAutostart("Quarnel Updater", test::ProgramPath()), AutostartThisUser);
}

TEST_F(ConfigureTest, EveryChangeGetsAStampOfItsOwnSoTheServiceSendsIt) {
    // The service tells sent settings from new ones by their stamp: a change applied within the
    // second of the one before must not repeat its stamp, while a stamp far ahead (a clock set
    // back) is not carried on.
    struct Case {
        std::int64_t storedAhead;
        bool followsStored;
        const char* change;
    };
    for (const Case c : {Case{0, true, "Interval=20\n"}, Case{3, true, "Interval=30\n"},
                         Case{86400, false, "Interval=40\n"}}) {
        ASSERT_EQ(Configure(kGoodInput).exitCode, 0);
        const std::int64_t stored = CurrentTimeStamp() + c.storedAhead;
        WriteTimeStamp(kMachine, kSettingsKey, kValueTime, stored);
        ASSERT_EQ(Configure(c.change).exitCode, 0);
        const std::int64_t stamp = ReadTimeStamp(kMachine, kSettingsKey, kValueTime);
        if (c.followsStored) {
            EXPECT_EQ(stamp, stored + 1) << c.storedAhead;
        } else {
            EXPECT_LT(stamp, stored) << c.storedAhead;
        }
    }
}

TEST_F(ConfigureTest, BadInputIsNamedAndChangesNothing) {
    ASSERT_EQ(Configure(kGoodInput).exitCode, 0);
    const auto stored = StoreSnapshot();
    struct Case {
        std::string input;
        std::string problem;
    };
    const std::vector<Case> cases = {
        {"Provider=7\n", "line 1: unknown provider \"7\""},
        {"Provider=NoSuchDNS\n", "unknown provider \"NoSuchDNS\""},
        {"Interval=0\n", "interval must be a whole number of minutes from 1 to"},
        {"Interval=-5\n", "not \"-5\""},
        {"Interval=ten\n", "not \"ten\""},
        {"Hostname=my host.example.org\n", "\"my host.example.org\" contains a blank"},
        {"Hostname=a\x01.example.org\n", "\"a\\x01.example.org\" contains a control character"},
        {"Hostname=-a.example.org\n", "starts or ends with a hyphen"},
        {"Hostname=a..example.org\n", "empty or over-long part"},
        {"Hostname=" + std::string(64, 'a') + ".org\n", "empty or over-long part"},
        {"WirelessNetworks=" + std::string(33, 'w') + "\n", "must have 1 to 32 bytes"},
        {"LocalFilter=maybe\n", "must be yes or no"},
        {"Username=a\tb\n", "the user name contains a control character"},
        {"Colour=blue\n", "unknown setting \"Colour\""},
        {"Interval\n", "is not of the form Name=Value"},
        {"Username=" + std::string(10000, 'u') + "\n", "longer than 4096 characters"},
        // Good lines first: the bad one after them still stops everything.
        {"Interval=20\nHostname=x.example.org\nPassword=half",
         "line 3: the input ended in the "
         "middle of a line"},
        {"", "no settings on standard input"},
        {"# only a comment\n\n", "no settings on standard input"},
        {"# Hostname=x.example.org\n", "no settings on standard input"},
        // Required settings cannot be emptied; the host name only where the provider needs none.
        {"Username=\n", "Username cannot be empty: it is required"},
        {"Password=\n", "Password cannot be empty"},
        {"Interval= \n", "Interval cannot be empty"},
        {"Hostname=\n", "Hostname cannot be empty for No-IP"},
        // Endpoints are checked like every other value.
        {"IPEcho=echo example.net\n", "the endpoint IPEcho \"echo example.net\""},
        {"UpdateHost=127.0.0.1:0\n", "the endpoint UpdateHost \"127.0.0.1:0\" has a port"},
        {"Resolvers=dns.example.net\n", "not an IPv4 address"},
        {"ProbeHost=probe.example.net:53\n", "the endpoint ProbeHost"},
        {"Interval=20\nNoIP=no ip\n", "line 2: the endpoint NoIP"},
        // Hooks never run as root, nor as somebody who does not exist.
        {"HookUser=root\n", "root is an account of root's user id"},
        {"Interval=20\nHookUser=no-such-account\n", "there is no account named no-such-account"},
        {"HookUser=a b\n", "\"a b\" is no account name"},
    };
    for (const Case& c : cases) {
        const auto result = Configure(c.input);
        EXPECT_EQ(result.exitCode, 1) << c.input.substr(0, 60);
        EXPECT_NE(result.output.find(c.problem), std::string::npos) << c.input.substr(0, 60) << "\n"
                                                                    << result.output.substr(0, 300);
        EXPECT_NE(result.output.find("nothing was changed"), std::string::npos);
        EXPECT_EQ(StoreSnapshot(), stored) << c.input.substr(0, 60);
    }
}

TEST_F(ConfigureTest, AStoreThatCannotBeWrittenIsReportedBeforeAnythingChanges) {
    // A file where the store's folder would be.
    std::filesystem::create_directories(root_.Path() + "/var/lib");
    std::ofstream(root_.Path() + "/var/lib/quarnel-updater") << "not a folder";
    const auto result = Configure("Interval=20\n");
    EXPECT_EQ(result.exitCode, 2) << result.output;
    EXPECT_NE(result.output.find("cannot be written"), std::string::npos) << result.output;
}

TEST_F(ConfigureTest, OnATerminalEveryQuestionIsAskedAndThePasswordIsNotEchoed) {
    const std::vector<test::TerminalAnswer> answers = {
        {"User name: ", "bob"},
        {"Password: ", "pw-Secret-42"},
        {"Host name (several separated by commas): ", "bob.example.org"},
        {"Provider (0 DynDNS", "9"},  // refused: asked again
        {"Provider (0 DynDNS", "1"},
        {"Check interval in minutes [5]: ", ""},
        {"local networks (yes/no) [no]: ", ""},
        {"Local networks:", ""},
        {"wireless networks (yes/no) [no]: ", "y"},
        {"Wireless networks:", "Bob's WLAN"},
        {"IPv6 address current (yes/no; not for OpenDNS and DNS-O-Matic) [no]: ", "y"},
    };
    const auto result = test::RunProgramOnTerminal({"/configure"}, Environment(), answers);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("bob.example.org"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("unknown provider \"9\""), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("pw-Secret-42"), std::string::npos) << result.output;

    EXPECT_EQ(Setting(kValueUsername), "bob");
    EXPECT_EQ(Password(), "pw-Secret-42");
    EXPECT_EQ(Setting(kValueHostname), "bob.example.org");
    EXPECT_EQ(Number(kValueService), 1);
    EXPECT_EQ(Number(kValueInterval), 5);
    EXPECT_EQ(Number(kValueWirelessFilter), 1);
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueWirelessNetworks),
              "Bob's WLAN\n\n");
    // OpenDNS takes no IPv6 address: the choice is kept, and both commands say so.
    EXPECT_EQ(Number(kValueIPv6), 1);
    EXPECT_NE(result.output.find("OpenDNS takes IPv4 addresses only: the IPv6 setting has no "
                                 "effect with it."),
              std::string::npos)
        << result.output;
    EXPECT_EQ(Shown(Status().output, "IPv6:"),
              "on, but OpenDNS takes IPv4 addresses only: no IPv6 address is sent");

    // Ending the input half-way through the questions stores nothing.
    const auto before = StoreSnapshot();
    const auto cut = test::RunProgramOnTerminal(
        {"/configure"}, Environment(), {{"User name [bob]: ", "carol"}, {"Password", "\x04"}});
    EXPECT_EQ(cut.exitCode, 1) << cut.output;
    EXPECT_NE(cut.output.find("the input ended"), std::string::npos) << cut.output;
    EXPECT_EQ(StoreSnapshot(), before);
}

TEST_F(ConfigureTest, EndpointsAreStoredListedByStatusAndClearedBackToTheDefault) {
    ASSERT_EQ(Configure(kGoodInput).exitCode, 0);
    const auto result = Configure(
        "UpdateHost = 127.0.0.1:8443\n"  // the chosen provider's: No-IP
        "IPEcho=echo.example.net:8443\n"
        "ipechohttp=echo.example.net\n"
        "Resolvers=127.0.0.1:5353,192.0.2.53\n"
        "ProbeHost=probe.example.net\n");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(ReadEndpointOverride(Endpoint::NoIpUpdate), "127.0.0.1:8443");
    EXPECT_EQ(ReadEndpointOverride(Endpoint::DynDnsUpdate), "");
    EXPECT_EQ(GetEndpoint(Endpoint::IpEcho), "echo.example.net:8443");
    EXPECT_EQ(GetEndpoint(Endpoint::IpEchoHttp), "echo.example.net");
    EXPECT_EQ(GetEndpoint(Endpoint::Resolvers), "127.0.0.1:5353,192.0.2.53");
    EXPECT_EQ(GetEndpoint(Endpoint::ProbeHost), "probe.example.net");

    auto status = Status();
    EXPECT_NE(status.output.find("\n  NoIP               127.0.0.1:8443 (built in: "
                                 "dynupdate.no-ip.com)\n"),
              std::string::npos)
        << status.output;
    EXPECT_NE(status.output.find("\n  ProbeHost          probe.example.net"), std::string::npos);

    // An empty value removes the override: the built-in default applies again.
    ASSERT_EQ(Configure("IPEcho=\nUpdateHost=\n").exitCode, 0);
    EXPECT_EQ(ReadEndpointOverride(Endpoint::IpEcho), "");
    EXPECT_EQ(GetEndpoint(Endpoint::IpEcho), EndpointDefault(Endpoint::IpEcho));
    EXPECT_EQ(GetEndpoint(Endpoint::NoIpUpdate), EndpointDefault(Endpoint::NoIpUpdate));
    status = Status();
    EXPECT_EQ(status.output.find("\n  IPEcho "), std::string::npos) << status.output;
    EXPECT_EQ(status.output.find("\n  NoIP "), std::string::npos) << status.output;
}

// Run again from a script with the same values, it must not give the service a reason to send a
// (no-change) update: no new time stamp, no file touched.
TEST_F(ConfigureTest, TheSameValuesAgainChangeNothing) {
    const std::string input = std::string(kGoodInput) + "IPEcho=127.0.0.1:8443\n";
    ASSERT_EQ(Configure(input).exitCode, 0);
    const auto stored = StoreSnapshot();
    for (const std::string& again :
         {input, std::string("Interval=15\nLocalNetworks=fritz.box,192.168.178.1\n"),
          std::string("ipecho=127.0.0.1:8443\nProvider=5\n")}) {
        const auto result = Configure(again);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_NE(result.output.find("Nothing to change"), std::string::npos) << result.output;
        EXPECT_EQ(result.output.find("Settings saved."), std::string::npos) << result.output;
        EXPECT_EQ(StoreSnapshot(), stored) << again;
    }
}

// The hook user is nothing the provider is told: no new time stamp, so no update is sent.
TEST_F(ConfigureTest, TheHookUserIsStoredAndClearedWithoutANewTimeStamp) {
    ASSERT_EQ(Configure(kGoodInput).exitCode, 0);
    const std::int64_t time = ReadTimeStamp(kMachine, kSettingsKey, kValueTime);
    auto result = Configure("HookUser=nobody\n");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "Hooks run as nobody.\n");
    EXPECT_EQ(Setting(kValueHookUser), "nobody");
    EXPECT_EQ(ReadTimeStamp(kMachine, kSettingsKey, kValueTime), time);

    result = Configure("HookUser=\n");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "Hooks run as the program's system user.\n");
    EXPECT_EQ(Setting(kValueHookUser), "");
    EXPECT_NE(Configure("HookUser=\n").output.find("Nothing to change"), std::string::npos);
}

TEST_F(ConfigureTest, AByteOrderMarkAndBlanksAroundValuesAreHandled) {
    const auto result =
        Configure("\xEF\xBB\xBFUsername = bob \nPassword= pw \nHostname= bob.example.org\n");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(Setting(kValueUsername), "bob");
    EXPECT_EQ(Setting(kValueHostname), "bob.example.org");
    EXPECT_EQ(Password(), " pw ");  // kept as given, but the user is told
    EXPECT_NE(result.output.find("warning: the password starts or ends with a blank"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(Configure("Password=pw\n").output.find("warning"), std::string::npos);
}

TEST_F(ConfigureTest, AnEmptyValueClearsAnOptionalSetting) {
    ASSERT_EQ(Configure(kGoodInput).exitCode, 0);
    const auto result = Configure("LocalNetworks=\nLocalFilter=\nWirelessNetworks= \n");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueLocalNetworks), "");
    EXPECT_EQ(ReadRegistryMultiString(kMachine, kSettingsKey, kValueWirelessNetworks), "");
    EXPECT_EQ(Number(kValueLocalFilter), 0);
    EXPECT_EQ(Setting(kValueHostname), "home.example.org,office.example.org");
    ASSERT_EQ(Configure("IPv6=yes\n").exitCode, 0);
    ASSERT_EQ(Configure("IPv6=\n").exitCode, 0);
    EXPECT_EQ(Number(kValueIPv6), 0);

    // DNS-O-Matic updates every host of the account when no host name is set.
    ASSERT_EQ(Configure("Provider=DNS-O-Matic\nHostname=\n").exitCode, 0);
    EXPECT_EQ(Setting(kValueHostname), "");
    EXPECT_EQ(Number(kValueService), 2);
}

TEST_F(ConfigureTest, AValueThatDoesNotReadBackIsReportedAsAFailure) {
    ASSERT_EQ(Configure(kGoodInput).exitCode, 0);
    // A folder where the user name's value file is: the write cannot replace it.
    const std::string value = root_.Path() +
                              "/var/lib/quarnel-updater/registry/HKEY_LOCAL_MACHINE/SOFTWARE/"
                              "Quarnel Updater/Settings/Username.value";
    ASSERT_TRUE(std::filesystem::remove(value));
    ASSERT_TRUE(std::filesystem::create_directory(value));
    const auto result = Configure("Username=carol\nInterval=30\n");
    EXPECT_EQ(result.exitCode, 2) << result.output;
    EXPECT_NE(result.output.find("did not read back as written: Username"), std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("Settings saved."), std::string::npos) << result.output;
}

TEST_F(ConfigureTest, StatusShowsStoredTextsWithTheirControlCharactersVisible) {
    ASSERT_EQ(Configure(kGoodInput).exitCode, 0);
    CreateRegistryKey(kMachine, kServiceKey);
    // A provider answer with a terminal escape sequence (set the window title, clear the
    // screen) and a C1 control character.
    WriteRegistryString(kMachine, kServiceKey, kValueResult,
                        "badagent \x1b]0;owned\x07\x1b[2J\xc2\x9b");
    WriteRegistryString(kMachine, kServiceKey, kValueIp, "198.51.100.7\r");
    WriteTimeStamp(kMachine, kServiceKey, kValueTime, 1700000000);
    EventSourceHandle source = OpenEventSource("Quarnel Updater");
    ASSERT_EQ(ReportOutcomeEvent(source, kEventRecordTypeError, 0, kEventRecordIdError,
                                 {"nohost \x1b[31mred"}),
              1);

    const auto status = Status();
    ASSERT_EQ(status.exitCode, 0) << status.output;
    EXPECT_EQ(status.output.find('\x1b'), std::string::npos);
    EXPECT_EQ(status.output.find('\x07'), std::string::npos);
    EXPECT_EQ(status.output.find("\xc2\x9b"), std::string::npos);
    EXPECT_EQ(status.output.find('\r'), std::string::npos);
    EXPECT_EQ(Shown(status.output, "Provider answer:"),
              "badagent \\x1b]0;owned\\x07\\x1b[2J\\xc2\\x9b");
    EXPECT_EQ(Shown(status.output, "Address:"), "198.51.100.7\\x0d");
    EXPECT_NE(status.output.find("] nohost \\x1b[31mred\n"), std::string::npos) << status.output;

    // The JSON document keeps every byte that a string can hold, escaped as JSON wants.
    const auto json = test::RunProgram({"/status", "--json"}, Environment());
    EXPECT_EQ(json.output.find('\x1b'), std::string::npos);
    const nlohmann::json document = nlohmann::json::parse(json.output, nullptr, false);
    ASSERT_TRUE(document.is_object()) << json.output;
    EXPECT_EQ(document["lastAttempt"]["answer"], "badagent \x1b]0;owned\x07\x1b[2J\xc2\x9b");
    EXPECT_EQ(document["lastUpdate"]["address"], "198.51.100.7\r");
}

TEST_F(ConfigureTest, StatusExplainsTheOutcomeAndTheNextStep) {
    struct Case {
        std::string result;   // stored as the last answer; "-" for no update yet
        std::string attempt;  // the attempt's own answer; empty for a store of an older build
        std::string lang;
        std::string attemptTime;
        std::string meaning;
        std::string nextStep;  // "(missing)" when no step is shown
        std::string outcome;   // of the JSON document, with its hook event ("-": none)
        std::string event;
    };
    const std::string older = "2023-11-14 22:13:20";
    const std::string newer = "2023-11-14 23:13:20";
    const std::vector<Case> cases = {
        {"-", "", "C", "never", "Nothing has been sent to the provider yet.", "(missing)", "none",
         "-"},
        {"good 198.51.100.7", "good 198.51.100.7", "C", newer,
         "The update was successful, and the hostname is now updated.", "(missing)", "accepted",
         "update"},
        {"nochg 198.51.100.7", "", "C", older, "The update changed no settings", "(missing)",
         "accepted", "nochg"},
        {"badauth", "", "C", older, "The username and password pair do not match a real user.",
         "check the user name and password (quarnel-updater /configure)", "refused", "error"},
        {"nohost", "", "C", older, "The hostname specified does not exist in this user account.",
         "check the host name: each must be a full name that belongs to this account at No-IP",
         "refused", "error"},
        {"!noauth", "!noauth", "C", newer, "Nothing was sent to the provider: no user name is set.",
         "store the account: quarnel-updater /configure", "not-configured", "error"},
        // The newest attempt got no answer; the stored answer is the one before it.
        {"good 198.51.100.7", "!noanswer", "C", newer,
         "Nothing reached the provider: no answer came back.", "check the network connection and ",
         "outage", "outage"},
        {"good 198.51.100.7", "!noanswer", "de_DE.UTF-8", newer,
         "Nichts hat den Dienstleister erreicht: es kam keine Antwort zurück.",
         "check the network connection", "outage", "outage"},
        {"good 198.51.100.7", "<html>Bad Gateway</html>", "C", newer,
         "An unknown error occurred: <html>Bad Gateway</html>",
         "nothing: the answer was no verdict of the provider", "outage", "outage"},
        {"dnserr", "dnserr", "C", newer, "DNS error encountered.",
         "nothing: the service tries again", "try-later", "error"},
        {"strange answer", "", "C", older, "An unknown error occurred: strange answer",
         "nothing: the answer was no verdict of the provider", "outage", "outage"},
    };
    for (const Case& c : cases) {
        test::TemporaryFolder root;
        test::ScopedEnvironment rootVariable("QUARNEL_ROOT", root.Path());
        std::filesystem::create_directories(root.Path() + "/etc");
        std::ofstream(root.Path() + "/etc/machine-id") << kMachineId << "\n";
        auto environment = Environment();
        environment["QUARNEL_ROOT"] = root.Path();
        ASSERT_EQ(test::RunProgramWithInput({"/configure"}, environment, kGoodInput).exitCode, 0);
        if (c.result != "-") {
            CreateRegistryKey(kMachine, kServiceKey);
            WriteRegistryString(kMachine, kServiceKey, kValueResult, c.result);
            WriteTimeStamp(kMachine, kServiceKey, kValueTime, 1700000000);
            if (!c.attempt.empty()) {
                WriteRegistryString(kMachine, kServiceKey, kValueAttemptResult, c.attempt);
                WriteTimeStamp(kMachine, kServiceKey, kValueAttemptTime, 1700003600);
            }
        }
        environment["LANG"] = c.lang;
        const auto status = test::RunProgram({"/status"}, environment);
        EXPECT_EQ(status.exitCode, 0) << status.output;
        EXPECT_EQ(Shown(status.output, "Last attempt:"), c.attemptTime) << status.output;
        EXPECT_EQ(Shown(status.output, "Result:").rfind(c.meaning, 0), 0u) << c.result << "\n"
                                                                           << status.output;
        EXPECT_EQ(Shown(status.output, "Next step:").rfind(c.nextStep, 0), 0u) << c.result << "\n"
                                                                               << status.output;

        // The same attempt in the JSON document, read by a parser.
        const auto json = test::RunProgram({"/status", "--json"}, environment);
        EXPECT_EQ(json.exitCode, 0) << json.output;
        const nlohmann::json document = nlohmann::json::parse(json.output, nullptr, false);
        ASSERT_TRUE(document.is_object()) << json.output;
        const nlohmann::json& attempt = document["lastAttempt"];
        EXPECT_EQ(attempt["outcome"], c.outcome) << json.output;
        const bool none = c.outcome == "none";
        EXPECT_EQ(attempt["event"], none ? nlohmann::json() : nlohmann::json(c.event));
        EXPECT_EQ(attempt["reachedProvider"],
                  c.outcome == "accepted" || c.outcome == "refused" || c.outcome == "try-later");
        // A value that cannot be known is null and says why.
        if (none || c.outcome == "outage") {
            EXPECT_TRUE(attempt["code"].is_null());
            EXPECT_TRUE(attempt["codeReason"].is_string());
        } else {
            EXPECT_EQ(attempt["code"], c.result.substr(0, c.result.find(' '))) << json.output;
            EXPECT_EQ(attempt["message"].get<std::string>().rfind(c.meaning, 0) == 0,
                      c.outcome != "not-configured")
                << json.output;
        }
        EXPECT_EQ(attempt["time"].is_null(), none);
        EXPECT_EQ(document["settings"]["provider"], "No-IP");
        EXPECT_EQ(document["service"]["state"], "not-installed");
        EXPECT_FALSE(document["settings"].contains("password"));
    }
}

TEST_F(ConfigureTest, StatusThatCannotWriteItsOutputFails) {
    const CommandResult result =
        RunCommand({"/bin/sh", "-c", "QUARNEL_ROOT=\"$1\" \"$0\" /status >/dev/full",
                    test::ProgramPath(), root_.Path()},
                   30000);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("standard output cannot be written"), std::string::npos)
        << result.output;
}

// A normal user may not ask the service on its control socket; without systemd to ask instead,
// the state is "cannot tell", never a wrong "not running".
TEST_F(ConfigureTest, StatusOfANormalUserSaysWhenItCannotTellTheServicesState) {
    const std::string setpriv = FindExecutable("setpriv", "/usr/bin:/bin");
    if (::geteuid() != 0 || setpriv.empty()) {
        GTEST_SKIP() << "changing to an unprivileged user needs root and setpriv";
    }
    const std::string program = root_.Path() + "/quarnel-updater";
    std::filesystem::copy_file(test::ProgramPath(), program);
    ASSERT_EQ(::chmod(root_.Path().c_str(), 0755), 0);
    // The service's control socket as the running service leaves it: root's, mode 0600.
    std::filesystem::create_directories(root_.Path() + "/run/quarnel-updater");
    const std::string socket = root_.Path() + "/run/quarnel-updater/control";
    std::ofstream(socket) << "";
    ASSERT_EQ(::chmod(socket.c_str(), 0600), 0);

    const CommandResult result = RunCommand(
        {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", program, "/status"}, 30000);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(Shown("\n" + result.output, "Service:"),
              "cannot tell (only root may ask the service) (not installed)")
        << result.output;

    // Neither form guesses: the verdict is "cannot tell", the state unknown with its reason.
    const auto asNobody = [&](const char* form) {
        return RunCommand(
            {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", program, "/status", form},
            30000);
    };
    const CommandResult check = asNobody("--check");
    EXPECT_EQ(check.exitCode, 2) << check.output;
    EXPECT_EQ(check.output,
              "UNKNOWN: whether the service runs: cannot tell (only root may ask the service)\n");
    const nlohmann::json document =
        nlohmann::json::parse(asNobody("--json").output, nullptr, false);
    ASSERT_TRUE(document.is_object());
    EXPECT_EQ(document["service"]["state"], "unknown");
    EXPECT_EQ(document["service"]["stateReason"], "cannot tell (only root may ask the service)");
}

}  // namespace
}  // namespace quarnel
