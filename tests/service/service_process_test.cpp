// The real service process, started in the foreground inside a network namespace of its own,
// against the provider emulator: the first cycle updates, changes and controls run further
// cycles, an error answer stops the timed checks, a stop ends the process cleanly.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/event_log.h"
#include "libraries/src/service/service_control.h"
#include "libraries/src/service/service_library.h"
#include "platform/product.h"
#include "platform/unique_fd.h"
#include "service/check_record.h"
#include "settings/apply.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/fixtures/request_record.h"
#include "tests/fixtures/service_account.h"
#include "tests/libraries/adapter/network_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;
constexpr const char* kAddress = test::kAccountAddress;

// Polls condition every 20 ms for at most timeoutMs.
using test::Eventually;

// Requests over HTTPS whose target passes the test: the echo page is "/" exactly, updates start
// with "/nic/update".
int CountRequests(const test::ProviderEmulator& emulator,
                  const std::function<bool(const std::string& target)>& matches) {
    int count = 0;
    for (const test::RequestRecord& record : test::ParseRequestRecords(emulator.Requests())) {
        if (record.server == "https" && matches(record.target)) {
            ++count;
        }
    }
    return count;
}

int CountEchoRequests(const test::ProviderEmulator& emulator) {
    return CountRequests(emulator, [](const std::string& target) { return target == "/"; });
}

int CountUpdateRequests(const test::ProviderEmulator& emulator) {
    return CountRequests(
        emulator, [](const std::string& target) { return target.starts_with("/nic/update"); });
}

// The processes whose parent is pid (from /proc/<pid>/stat, the field after the command).
int CountChildren(int pid) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string stat = test::ReadFileText(entry.path().string() + "/stat");
        const std::size_t close = stat.rfind(')');
        int parent = 0;
        if (close != std::string::npos &&
            std::sscanf(stat.c_str() + close + 1, " %*c %d", &parent) == 1 && parent == pid) {
            ++count;
        }
    }
    return count;
}

class ServiceProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QUARNEL_ENTER_PRIVATE_NETWORK("quarnel-service", "");
        root_ = std::make_unique<test::TemporaryFolder>();
        rootEnvironment_ = std::make_unique<test::ScopedEnvironment>("QUARNEL_ROOT", root_->Path());
        ASSERT_TRUE(test::StartEmulatorWithAccount(emulator_));
        ASSERT_TRUE(test::WriteAccountSettings());
    }

    void TearDown() override {
        if (service_.Pid() > 0) {
            service_.Signal(SIGKILL);
            service_.Wait(5000);
        }
        emulator_.Stop();
    }

    std::map<std::string, std::string> ServiceEnvironment() const {
        return {{"QUARNEL_ROOT", root_->Path()},
                {"SSL_CERT_FILE", emulator_.CaFile()},
                {"LOGLEVEL", "6"}};
    }

    bool StartService() {
        return service_.Start(test::ProgramPath(), {"/service"}, ServiceEnvironment());
    }

    std::int64_t RecordedEventId() const {
        return ReadRegistryDword(kHive, kServiceKey, kValueEventId);
    }

    bool SendControl(std::uint32_t control) {
        ServiceStatus status;
        return SendServiceControl(ServiceName, control, status);
    }

    std::unique_ptr<test::TemporaryFolder> root_;
    std::unique_ptr<test::ScopedEnvironment> rootEnvironment_;
    test::ProviderEmulator emulator_;
    test::ChildProcess service_;
};

TEST_F(ServiceProcessTest, FirstCycleUpdatesAndRecordsTheOutcome) {
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();

    EXPECT_EQ(ReadRegistryString(kHive, kServiceKey, kValueResult), "good 203.0.113.5");
    EXPECT_EQ(ReadRegistryString(kHive, kServiceKey, kValueIp), kAddress);
    EXPECT_EQ(ReadRegistryDword(kHive, kServiceKey, kValueEventType), 4);
    EXPECT_EQ(RecordedEventId(), static_cast<std::int32_t>(0x40000064));
    EXPECT_EQ(ReadRegistryDword(kHive, kServiceKey, kValueLimit), 0);
    EXPECT_EQ(emulator_.Admin("/admin/host?name=home.example.org"), std::string(kAddress) + "\n");

    // The event record follows the registry values.
    ASSERT_TRUE(
        Eventually([] { return !ReadEventLogHistory("Application", ServiceName).empty(); }));
    const auto history = ReadEventLogHistory("Application", ServiceName);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_NE(history[0].line.find("] good 203.0.113.5"), std::string::npos);
    EXPECT_EQ(history[0].imageSlot, 0);

    // A second service process ends at once, leaving the first alone.
    test::ChildProcess second;
    ASSERT_TRUE(second.Start(test::ProgramPath(), {"/service"}, ServiceEnvironment()));
    EXPECT_EQ(second.Wait(10000), 0);

    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(10000), 0) << service_.Output();
}

// An echo on the path whose certificate (from a trusted CA) names another host chooses nothing:
// no address, a WARN line naming host and reason, and no request reaches the provider.
TEST_F(ServiceProcessTest, AnEchoWithACertificateForAnotherNamePublishesNothing) {
    const std::string echo = "127.0.0.1:" + std::to_string(emulator_.HttpsOtherNamePort());
    ASSERT_TRUE(test::SetEndpointOverride(Endpoint::IpEcho, echo));
    emulator_.Admin("/admin/echo?text=203.0.113.66");
    ASSERT_TRUE(StartService());
    const std::string warning =
        "] No address from the IP echo " + echo + ": its certificate does not name the host";
    ASSERT_TRUE(Eventually([&] { return test::TraceLogText().find(warning) != std::string::npos; }))
        << test::TraceLogText();
    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(10000), 0) << service_.Output();
    EXPECT_EQ(CountUpdateRequests(emulator_), 0);
    const std::string log = test::TraceLogText();
    const std::size_t at = log.rfind('\n', log.find(warning)) + 1;
    std::cout << log.substr(at, log.find('\r', at) - at) << std::endl;
}

TEST_F(ServiceProcessTest, ServiceMapsNoDesktopLibrary) {
    // The desktop module and Qt are loaded by desktop modes only; a service after a whole cycle
    // has neither in its address space, nor libdw, which only the crash reporter opens.
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();
    const std::string maps =
        test::ReadFileText("/proc/" + std::to_string(service_.Pid()) + "/maps");
    ASSERT_NE(maps.find("quarnel-updater"), std::string::npos);
    EXPECT_EQ(maps.find("libQt"), std::string::npos) << maps;
    EXPECT_EQ(maps.find("quarnel-updater-ui"), std::string::npos) << maps;
    EXPECT_EQ(maps.find("libdw"), std::string::npos) << maps;
}

// Each cycle starts the helper for its next exchange ahead of time; the one still waiting when
// the cycle ends is dismissed, quietly, so no helper stays beside the idle service.
TEST_F(ServiceProcessTest, AfterACycleNoHelperIsLeftAndNoneComplains) {
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();
    EXPECT_TRUE(Eventually([&] { return CountChildren(service_.Pid()) == 0; }));
    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(10000), 0);
    EXPECT_EQ(service_.Output().find("quarnel-updater-helper:"), std::string::npos)
        << service_.Output();
}

TEST_F(ServiceProcessTest, ChangesAndControlsRunFurtherCycles) {
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();
    const int echoesAfterStart = CountEchoRequests(emulator_);
    ASSERT_EQ(echoesAfterStart, 1);

    // Control 128, as sent after new settings are applied, runs one cycle.
    ASSERT_TRUE(Eventually([&] { return SendControl(ControlCodeSettingsChanged); }));
    EXPECT_TRUE(Eventually([&] { return CountEchoRequests(emulator_) == 2; }));

    // A new address on an interface runs one cycle, which finds the public address unchanged
    // and so sends no update.
    ASSERT_TRUE(
        test::AddVethPair(test::UniqueName("qsv"), test::UniqueName("qsp"), "198.51.100.10/24"));
    EXPECT_TRUE(Eventually([&] { return CountEchoRequests(emulator_) == 3; }));
    EXPECT_EQ(CountUpdateRequests(emulator_), 1);

    // A changed public address is sent on the next wake-up.
    emulator_.Admin("/admin/echo?text=203.0.113.77");
    ASSERT_TRUE(SendControl(ControlCodeSettingsChanged));
    EXPECT_TRUE(Eventually([&] {
        return ReadRegistryString(kHive, kServiceKey, kValueResult) == "good 203.0.113.77";
    }));

    // Pause consumes wake-ups without a cycle; continue runs one.
    ASSERT_TRUE(SendControl(ServiceControlPause));
    const int echoesWhilePaused = CountEchoRequests(emulator_);
    ASSERT_TRUE(SendControl(ControlCodeSettingsChanged));
    ASSERT_TRUE(SendControl(ServiceControlContinue));
    EXPECT_TRUE(Eventually([&] { return CountEchoRequests(emulator_) == echoesWhilePaused + 1; }));

    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(10000), 0) << service_.Output();
}

// "/status --check" and "/status --json" of another process tell what this service did.
TEST_F(ServiceProcessTest, StatusTellsWhatTheRunningServiceFoundAndWhenItLooksAgain) {
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(CheckRecordPath()); }));
    auto check = test::RunProgram({"/status", "--check"}, ServiceEnvironment());
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_EQ(check.output.rfind("OK: good 203.0.113.5, ", 0), 0u) << check.output;

    const auto json = test::RunProgram({"/status", "--json"}, ServiceEnvironment());
    const nlohmann::json document = nlohmann::json::parse(json.output, nullptr, false);
    ASSERT_TRUE(document.is_object()) << json.output;
    EXPECT_EQ(document["service"]["state"], "running");
    EXPECT_EQ(document["lastAttempt"]["outcome"], "accepted");
    EXPECT_EQ(document["lastUpdate"]["accepted"], true);
    EXPECT_EQ(document["lastCheck"]["found"], "recorded");
    EXPECT_TRUE(document["nextCheck"]["time"].is_string()) << json.output;

    // A refusal: the verdict names its code.
    emulator_.Admin("/admin/script?body=badauth&status=401");
    WriteTimeStamp(kHive, kSettingsKey, kValueTime, CurrentTimeStamp() + 1);
    ASSERT_TRUE(SendControl(ControlCodeSettingsChanged));
    ASSERT_TRUE(Eventually([&] {
        return test::RunProgram({"/status", "--check"}, ServiceEnvironment()).exitCode == 1;
    }));
    check = test::RunProgram({"/status", "--check"}, ServiceEnvironment());
    EXPECT_NE(check.output.find("refused the last update with badauth"), std::string::npos)
        << check.output;
    // The timer armed by the first cycle still runs, and still says when the service looks next.
    const auto after = test::RunProgram({"/status", "--json"}, ServiceEnvironment());
    EXPECT_EQ(nlohmann::json::parse(after.output, nullptr, false)["nextCheck"]["time"],
              document["nextCheck"]["time"]);

    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(10000), 0) << service_.Output();
}

// Dual stack on an interface of its own: without the setting the request is the IPv4 one of
// always; with it, the stable global address rides along (not the temporary, deprecated,
// unique-local or link-local ones), a prefix change is sent once, and an interface without a
// global address asks the IPv6 echo.
TEST_F(ServiceProcessTest, IPv6GoesWithTheStableAddressAndFollowsItsChanges) {
    const std::string veth = test::UniqueName("qsv");
    ASSERT_TRUE(test::AddVethPair(veth, test::UniqueName("qsp"), "198.51.100.2/24"));
    std::ofstream("/proc/sys/net/ipv6/conf/" + veth + "/use_tempaddr") << "2";
    const std::string batch = root_->Path() + "/ipv6";
    const auto change = [&](const std::vector<std::string>& lines) {
        std::ofstream file(batch, std::ios::trunc);
        for (const std::string& line : lines) {
            file << line << " dev " << veth << "\n";
        }
        file.close();
        return test::RunIp({"-batch", batch});
    };
    ASSERT_TRUE(change({"address add 2001:db8:1::10/64 nodad mngtmpaddr",
                        "address add 2001:db8:1::20/64 nodad valid_lft 600 preferred_lft 300",
                        "address add 2001:db8:1::30/64 nodad valid_lft 3600 preferred_lft 0",
                        "address add fd00:1::10/64 nodad", "address add fe80::10/64 nodad"}));
    ASSERT_TRUE(test::RunIp({"-6", "route", "add", "default", "via", "fe80::1", "dev", veth}));
    const bool echo6 = emulator_.Https6Port() != 0;
    if (echo6) {
        ASSERT_TRUE(test::SetEndpointOverride(Endpoint::IpEcho6,
                                              "[::1]:" + std::to_string(emulator_.Https6Port())));
        emulator_.Admin("/admin/echo6?text=2001:db8:77::7");
    }
    const std::string update = "/nic/update?hostname=home.example.org&myip=203.0.113.5";
    std::vector<std::string> expected = {update};
    const auto updates = [&] {
        std::vector<std::string> targets;
        for (const test::RequestRecord& record : test::ParseRequestRecords(emulator_.Requests())) {
            if (record.target.starts_with("/nic/update")) {
                targets.push_back(record.target);
            }
        }
        return targets;
    };
    const auto sent = [&](const std::string& address6) {
        expected.push_back(update + "," + address6);
        return Eventually([&] {
            return updates().size() >= expected.size() &&
                   ReadRegistryString(kHive, kServiceKey, kValueIp6) == address6;
        });
    };

    ASSERT_TRUE(StartService());
    ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();
    EXPECT_EQ(updates(), expected);
    EXPECT_EQ(ReadRegistryString(kHive, kServiceKey, kValueIp6), "");

    WriteRegistryDword(kHive, kSettingsKey, kValueIPv6, 1);
    WriteTimeStamp(kHive, kSettingsKey, kValueTime, CurrentTimeStamp() + 1);
    ASSERT_TRUE(SendControl(ControlCodeSettingsChanged));
    EXPECT_TRUE(sent("2001:db8:1::10")) << test::TraceLogText();
    EXPECT_EQ(ReadRegistryString(kHive, kServiceKey, kValueResult),
              "good 203.0.113.5,2001:db8:1::10");

    ASSERT_TRUE(change({"address del 2001:db8:1::10/64", "address add 2001:db8:2::10/64 nodad"}));
    EXPECT_TRUE(sent("2001:db8:2::10")) << test::TraceLogText();

    if (echo6) {
        ASSERT_TRUE(change({"address del 2001:db8:2::10/64", "address del 2001:db8:1::20/64"}));
        EXPECT_TRUE(sent("2001:db8:77::7")) << test::TraceLogText();
    }
    // One more cycle finds nothing new; every change was sent exactly once.
    const int echoes = CountEchoRequests(emulator_);
    ASSERT_TRUE(SendControl(ControlCodeSettingsChanged));
    EXPECT_TRUE(Eventually([&] { return CountEchoRequests(emulator_) > echoes; }));
    EXPECT_EQ(updates(), expected);

    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(10000), 0) << service_.Output();
}

// A hook runs after the outcome with nothing of the service's (no root, no capability, no
// descriptor such as the control socket, no write access to the store), and one that hangs holds
// up neither the next cycle nor the stop.
TEST_F(ServiceProcessTest, HooksRunWithoutTheServicesRightsAndNeverHoldItUp) {
    const std::string hooks = root_->Path() + "/etc/quarnel-updater/hooks.d";
    const std::string out = root_->Path() + "/out";
    std::filesystem::create_directories(hooks);
    std::filesystem::create_directories(out);
    ASSERT_EQ(::chmod(root_->Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(out.c_str(), 0777), 0);
    const std::string store = root_->Path() + "/var/lib/quarnel-updater/registry";
    const auto hook = [&](const std::string& name, const std::string& body) {
        std::ofstream(hooks + "/" + name) << "#!/bin/sh\n" << body << "\n";
        ASSERT_EQ(::chmod((hooks + "/" + name).c_str(), 0755), 0);
    };
    hook("10-record",
         "{ env; id -u; grep ^CapEff: /proc/self/status;\n"
         "  readlink $(seq -f /proc/self/fd/%g 3 255) 2>/dev/null; echo fds-end;\n"
         "  touch " +
             store + "/written && echo store-written; } > " + out + "/seen.tmp 2>&1\nmv " + out +
             "/seen.tmp " + out + "/seen");
    hook("20-hang",
         "echo $$ > " + out + "/pid.tmp; mv " + out + "/pid.tmp " + out + "/pid; exec sleep 1000");
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(Eventually([&] { return !test::ReadFileText(out + "/pid").empty(); }))
        << service_.Output() << test::TraceLogText();

    const std::string seen = test::ReadFileText(out + "/seen");
    for (const char* entry :
         {"QUARNEL_EVENT=update\n", "QUARNEL_CODE=good\n", "QUARNEL_ADDRESS=203.0.113.5\n",
          "QUARNEL_ADDRESS6=\n", "QUARNEL_HOSTNAME=home.example.org\n", "QUARNEL_PROVIDER=DynDNS\n",
          "CapEff:\t0000000000000000\n"}) {
        EXPECT_NE(seen.find(entry), std::string::npos) << entry << "\n" << seen;
    }
    EXPECT_EQ(seen.find("store-written"), std::string::npos) << seen;
    // No descriptor of the service's beside the script's own, which its interpreter reads.
    EXPECT_NE(seen.find("CapEff:\t0000000000000000\n" + std::filesystem::canonical(hooks).string() +
                        "/10-record\nfds-end\n"),
              std::string::npos)
        << seen;
    EXPECT_EQ(seen.find("\n0\nCapEff"), std::string::npos) << "ran as root: " << seen;
    EXPECT_EQ(seen.find("LOGLEVEL="), std::string::npos) << seen;

    // While the hook hangs, the next wake-up runs its cycle, and a stop ends the service at once
    // and the hook with it.
    const int echoes = CountEchoRequests(emulator_);
    ASSERT_TRUE(SendControl(ControlCodeSettingsChanged));
    EXPECT_TRUE(Eventually([&] { return CountEchoRequests(emulator_) == echoes + 1; }));
    const std::string pid = test::ReadFileText(out + "/pid");
    const std::string hung = "/proc/" + pid.substr(0, pid.find('\n'));
    EXPECT_TRUE(std::filesystem::exists(hung));
    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(5000), 0) << service_.Output();
    EXPECT_FALSE(std::filesystem::exists(hung));
}

TEST_F(ServiceProcessTest, AnErrorAnswerStopsTheTimedChecksUntilTheSettingsChange) {
    emulator_.Admin("/admin/script?body=badauth&status=401");
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();
    EXPECT_EQ(ReadRegistryString(kHive, kServiceKey, kValueResult), "badauth");
    EXPECT_EQ(RecordedEventId(), static_cast<std::int32_t>(0xC0000066));
    const int echoes = CountEchoRequests(emulator_);

    // No watcher is armed: an address change runs no cycle.
    ASSERT_TRUE(
        test::AddVethPair(test::UniqueName("qsv"), test::UniqueName("qsp"), "198.51.100.20/24"));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(CountEchoRequests(emulator_), echoes);

    // New settings and control 128 run the next cycle, which succeeds.
    WriteTimeStamp(kHive, kSettingsKey, kValueTime, CurrentTimeStamp() + 1);
    ASSERT_TRUE(SendControl(ControlCodeSettingsChanged));
    EXPECT_TRUE(Eventually([&] {
        return ReadRegistryString(kHive, kServiceKey, kValueResult) == "good 203.0.113.5";
    }));

    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(10000), 0) << service_.Output();
}

TEST_F(ServiceProcessTest, AStormOfAddressChangesRunsABoundedNumberOfCycles) {
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();
    const std::string veth = test::UniqueName("qsv");
    ASSERT_TRUE(test::AddVethPair(veth, test::UniqueName("qsp"), "198.51.100.2/24"));
    ASSERT_TRUE(Eventually([&] { return CountEchoRequests(emulator_) >= 2; }));
    const int echoes = CountEchoRequests(emulator_);

    // 200 address changes within about a second.
    const std::string batch = root_->Path() + "/addresses";
    {
        std::ofstream commands(batch);
        for (int i = 0; i < 100; ++i) {
            const std::string address = "203.0.113." + std::to_string(100 + i) + "/32";
            commands << "address add " << address << " dev " << veth << "\n";
            commands << "address del " << address << " dev " << veth << "\n";
        }
    }
    ASSERT_TRUE(test::RunIp({"-batch", batch}));
    std::this_thread::sleep_for(std::chrono::seconds(5));
    // One cycle right away and at most one per hold-back interval after it.
    EXPECT_LE(CountEchoRequests(emulator_) - echoes, 4);
    EXPECT_GE(CountEchoRequests(emulator_) - echoes, 1);

    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(10000), 0) << service_.Output();
}

TEST_F(ServiceProcessTest, AServiceKilledDuringACycleLeavesAnIntactStoreAndLog) {
    // A first outcome on record, then a cycle that is killed while the provider is answering.
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();
    ASSERT_TRUE(
        Eventually([] { return !ReadEventLogHistory("Application", ServiceName).empty(); }));
    emulator_.Admin("/admin/echo?text=203.0.113.66");
    emulator_.Admin("/admin/fault?kind=delay&ms=3000&path=/nic/update");
    ASSERT_TRUE(SendControl(ControlCodeSettingsChanged));
    ASSERT_TRUE(Eventually([&] { return CountUpdateRequests(emulator_) == 2; }));
    service_.Signal(SIGKILL);
    service_.Wait(5000);

    EXPECT_EQ(ReadRegistryString(kHive, kServiceKey, kValueResult), "good 203.0.113.5");
    EXPECT_EQ(ReadEventLogHistory("Application", ServiceName).size(), 1u);

    // Started again, it finishes the interrupted update and both records are readable.
    ASSERT_TRUE(StartService());
    EXPECT_TRUE(Eventually([&] {
        return ReadRegistryString(kHive, kServiceKey, kValueResult) == "good 203.0.113.66";
    })) << service_.Output();
    EXPECT_TRUE(
        Eventually([&] { return ReadEventLogHistory("Application", ServiceName).size() == 2; }));

    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(10000), 0) << service_.Output();
}

TEST_F(ServiceProcessTest, AnOutageOrATryLaterIsFollowedByAResendOnEveryWakeUp) {
    constexpr int kWakeUps = 5;
    const struct {
        const char* name;
        const char* script;  // answers the first request and the wake-ups after it
        const char* result;
    } cases[] = {
        {"a load balancer's error page",
         "body=%3Chtml%3EService%20Unavailable%3C%2Fhtml%3E&status=503",
         "<html>Service Unavailable</html>"},
        {"911", "body=911", "911"},
    };
    for (const auto& c : cases) {
        emulator_.Admin("/admin/reset");
        emulator_.Admin(std::string("/admin/echo?text=") + kAddress);
        emulator_.Admin(std::string("/admin/script?") + c.script +
                        "&times=" + std::to_string(1 + kWakeUps));
        DeleteRegistryValue(kHive, kServiceKey, kValueEventId);
        ASSERT_TRUE(StartService());
        ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();
        EXPECT_EQ(ReadRegistryString(kHive, kServiceKey, kValueResult), c.result);
        EXPECT_EQ(ReadRegistryString(kHive, kServiceKey, kValueIp), "") << "nothing was applied";

        // Each wake-up sends the address again; once the provider takes it, nothing more.
        for (int wakeUp = 1; wakeUp <= kWakeUps + 1; ++wakeUp) {
            ASSERT_TRUE(SendControl(ControlCodeSettingsChanged));
            ASSERT_TRUE(Eventually([&] { return CountEchoRequests(emulator_) == 1 + wakeUp; }));
        }
        EXPECT_TRUE(Eventually([&] {
            return ReadRegistryString(kHive, kServiceKey, kValueIp) == kAddress;
        })) << service_.Output();
        std::cout << "update requests on the " << kWakeUps + 1 << " wake-ups after " << c.name
                  << ": " << CountUpdateRequests(emulator_) - 1 << std::endl;
        EXPECT_EQ(CountUpdateRequests(emulator_), 2 + kWakeUps) << c.name;
        ASSERT_TRUE(SendControl(ControlCodeSettingsChanged));
        ASSERT_TRUE(Eventually([&] { return CountEchoRequests(emulator_) == 3 + kWakeUps; }));
        EXPECT_EQ(CountUpdateRequests(emulator_), 2 + kWakeUps) << c.name;

        service_.Signal(SIGTERM);
        EXPECT_EQ(service_.Wait(10000), 0) << service_.Output();
        DeleteRegistryValue(kHive, kServiceKey, kValueIp);
    }
}

// A UDP socket on loopback that receives queries and never answers.
class SilentResolver {
  public:
    SilentResolver() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ && ::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    int Port() const { return port_; }
    bool Asked() const {
        pollfd poller{fd_.Get(), POLLIN, 0};
        return ::poll(&poller, 1, 0) == 1;
    }

  private:
    UniqueFd fd_{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    int port_ = 0;
};

TEST_F(ServiceProcessTest, AStopIsPromptWhateverTheServerDoes) {
    SilentResolver resolver;
    ASSERT_NE(resolver.Port(), 0);
    auto requestsFor = [this](const std::string& target) {
        return CountRequests(emulator_, [&](const std::string& t) { return t == target; });
    };
    // A cycle cut by the stop records nothing: what reached the provider is unknown.
    const struct {
        const char* name;
        std::vector<std::string> commands;
        std::function<bool()> inProgress;
        bool recordsOutcome;
    } cases[] = {
        {"IP-echo page sending a byte every 12 s",
         {"/admin/fault?kind=trickle&chunk=1&ms=12000&path=/"},
         [&] { return CountEchoRequests(emulator_) >= 1; },
         false},
        {"update answer after 60 s",
         {"/admin/fault?kind=delay&ms=60000&path=/nic/update"},
         [&] { return CountUpdateRequests(emulator_) >= 1; },
         false},
        {"resolver that never answers", {}, [&] { return resolver.Asked(); }, false},
        {"check-in answer after 60 s",
         {"/admin/fault?kind=delay&ms=60000&path=/index.html"},
         [&] { return requestsFor("/index.html") >= 1; },
         true},
    };
    for (const auto& c : cases) {
        emulator_.Admin("/admin/reset");
        emulator_.Admin(std::string("/admin/echo?text=") + kAddress);
        for (const std::string& command : c.commands) {
            emulator_.Admin(command);
        }
        ASSERT_TRUE(test::SetEndpointOverride(
            Endpoint::Resolvers, c.commands.empty()
                                     ? "127.0.0.1:" + std::to_string(resolver.Port())
                                     : "127.0.0.1:" + std::to_string(emulator_.DnsPort())));
        DeleteRegistryValue(kHive, kServiceKey, kValueIp);
        DeleteRegistryValue(kHive, kServiceKey, kValueEventId);
        ASSERT_TRUE(StartService());
        ASSERT_TRUE(Eventually(c.inProgress)) << c.name << "\n" << service_.Output();
        if (c.recordsOutcome) {
            ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << c.name;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));

        const auto start = std::chrono::steady_clock::now();
        service_.Signal(SIGTERM);
        const int code = service_.Wait(10000);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout << "stop to exit, " << c.name << ": " << seconds << " s" << std::endl;
        EXPECT_EQ(code, 0) << c.name << "\n" << service_.Output();
        EXPECT_EQ(RecordedEventId() != 0, c.recordsOutcome) << c.name;
        EXPECT_EQ(service_.Output().find("No answer from the update service"), std::string::npos)
            << c.name << "\n"
            << service_.Output();
        if (code != 0) {
            service_.Signal(SIGKILL);
            service_.Wait(5000);
        }
    }
}

TEST_F(ServiceProcessTest, AStopIsCarriedOutWhenTheServiceManagerCannotBeTold) {
    // A notification socket that answers while the service starts and is gone when it stops.
    const std::string socketPath = root_->Path() + "/notify";
    UniqueFd notify(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(notify.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::map<std::string, std::string> environment = ServiceEnvironment();
    environment["NOTIFY_SOCKET"] = socketPath;
    ASSERT_TRUE(service_.Start(test::ProgramPath(), {"/service"}, environment));
    ASSERT_TRUE(Eventually([&] { return RecordedEventId() != 0; })) << service_.Output();

    ::unlink(socketPath.c_str());
    notify.Reset();
    service_.Signal(SIGTERM);
    EXPECT_EQ(service_.Wait(10000), 0) << service_.Output();
}

TEST_F(ServiceProcessTest, WithoutNetworkConfigurationTheServiceEndsWithAFailureCode) {
    // No netlink socket can be made in this process: the kernel answers every try with EMFILE.
    const std::map<std::string, std::string> environment = ServiceEnvironment();
    const int code = test::RunInForkedChild([&environment] {
        for (const auto& [name, value] : environment) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EMFILE),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
            return 126;
        }
        const std::string program_path = test::ProgramPath();
        ::execl(program_path.c_str(), program_path.c_str(), "/service", nullptr);
        return 127;
    });
    EXPECT_EQ(code, 1) << "a failure code lets the service manager start it again";
}

TEST_F(ServiceProcessTest, AFaultingServicePostsACrashReportAndEndsWithAFailureStatus) {
    std::map<std::string, std::string> environment = ServiceEnvironment();
    environment["QUARNEL_TEST_FAULT_IN_SERVICE"] = "null-write";
    // The sanitizers' own fault handlers stay out of the way of the program's.
    environment["ASAN_OPTIONS"] = "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0";
    ASSERT_TRUE(service_.Start(QUARNEL_FAULTING_PROGRAM, {"/service"}, environment));
    EXPECT_EQ(service_.Wait(60000), 128 + SIGSEGV) << service_.Output();

    int posted = 0;
    for (const test::RequestRecord& record : test::ParseRequestRecords(emulator_.Requests())) {
        if (record.method == "POST" && record.target == "/issues.xml") {
            ++posted;
            EXPECT_NE(record.body.find("Error Message:   Invalid memory access\r\n"),
                      std::string::npos);
        }
    }
    EXPECT_EQ(posted, 1);
}

}  // namespace
}  // namespace quarnel
