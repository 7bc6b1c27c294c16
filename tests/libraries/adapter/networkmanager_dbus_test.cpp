// The DHCP domain from NetworkManager over D-Bus: a private bus daemon below QUARNEL_ROOT, with
// a small stand-in that owns NetworkManager's name and answers the calls it is asked.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "libraries/src/adapter/dhcp_domain.h"
#include "platform/dhcp_domain.h"
#include "tests/libraries/adapter/network_test_support.h"

extern char** environ;

namespace quarnel {
namespace {

constexpr const char* kUuid = "0f6b4c2e-8d1a-4b7e-9c35-2a1e5d7f9b10";

struct FakeDevice {
    std::string path;
    bool managed = true;
    std::string dhcpPath;  // "/" without DHCP
    std::string domain;
};

// The calls and properties of NetworkManager that the lookup uses.
class FakeNetworkManager {
  public:
    explicit FakeNetworkManager(std::map<std::string, FakeDevice> devices)
        : devices_(std::move(devices)) {}
    ~FakeNetworkManager() { Stop(); }

    bool Start(const std::string& address) {
        sd_bus* bus = nullptr;
        if (sd_bus_new(&bus) < 0) {
            return false;
        }
        bus_ = bus;
        if (sd_bus_set_address(bus_, address.c_str()) < 0 || sd_bus_set_bus_client(bus_, 1) < 0 ||
            sd_bus_start(bus_) < 0) {
            return false;
        }
        if (sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/NetworkManager",
                                     "org.freedesktop.NetworkManager", kManagerTable, this) < 0) {
            return false;
        }
        for (auto& [name, device] : devices_) {
            if (sd_bus_add_object_vtable(bus_, nullptr, device.path.c_str(),
                                         "org.freedesktop.NetworkManager.Device", kDeviceTable,
                                         &device) < 0) {
                return false;
            }
            if (device.dhcpPath != "/" &&
                sd_bus_add_object_vtable(bus_, nullptr, device.dhcpPath.c_str(),
                                         "org.freedesktop.NetworkManager.DHCP4Config", kDhcpTable,
                                         &device) < 0) {
                return false;
            }
        }
        if (sd_bus_request_name(bus_, "org.freedesktop.NetworkManager", 0) < 0) {
            return false;
        }
        thread_ = std::thread([this] {
            while (!stop_) {
                const int processed = sd_bus_process(bus_, nullptr);
                if (processed < 0) {
                    break;
                }
                if (processed == 0) {
                    sd_bus_wait(bus_, 50000);
                }
            }
        });
        return true;
    }

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (bus_ != nullptr) {
            sd_bus_flush_close_unref(bus_);
            bus_ = nullptr;
        }
    }

  private:
    static int GetDevice(sd_bus_message* message, void* userdata, sd_bus_error* error) {
        auto* self = static_cast<FakeNetworkManager*>(userdata);
        const char* name = nullptr;
        if (sd_bus_message_read(message, "s", &name) < 0) {
            return -EINVAL;
        }
        const auto found = self->devices_.find(name);
        if (found == self->devices_.end()) {
            return sd_bus_error_set(error, "org.freedesktop.NetworkManager.UnknownDevice",
                                    "No device found for the requested iface.");
        }
        return sd_bus_reply_method_return(message, "o", found->second.path.c_str());
    }
    static int GetManaged(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                          void* userdata, sd_bus_error*) {
        return sd_bus_message_append(reply, "b", static_cast<FakeDevice*>(userdata)->managed);
    }
    static int GetDhcpPath(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                           void* userdata, sd_bus_error*) {
        return sd_bus_message_append(reply, "o",
                                     static_cast<FakeDevice*>(userdata)->dhcpPath.c_str());
    }
    static int GetOptions(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                          void* userdata, sd_bus_error*) {
        const auto* device = static_cast<FakeDevice*>(userdata);
        return sd_bus_message_append(reply, "a{sv}", 3, "ip_address", "s", "198.51.100.10",
                                     "domain_name", "s", device->domain.c_str(), "expiry", "t",
                                     std::uint64_t{1700000000});
    }

    static const sd_bus_vtable kManagerTable[];
    static const sd_bus_vtable kDeviceTable[];
    static const sd_bus_vtable kDhcpTable[];

    std::map<std::string, FakeDevice> devices_;
    sd_bus* bus_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

const sd_bus_vtable FakeNetworkManager::kManagerTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetDeviceByIpIface", "s", "o", FakeNetworkManager::GetDevice,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};
const sd_bus_vtable FakeNetworkManager::kDeviceTable[] = {
    SD_BUS_VTABLE_START(0), SD_BUS_PROPERTY("Managed", "b", FakeNetworkManager::GetManaged, 0, 0),
    SD_BUS_PROPERTY("Dhcp4Config", "o", FakeNetworkManager::GetDhcpPath, 0, 0), SD_BUS_VTABLE_END};
const sd_bus_vtable FakeNetworkManager::kDhcpTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Options", "a{sv}", FakeNetworkManager::GetOptions, 0, 0), SD_BUS_VTABLE_END};

// True when something accepts connections on the socket at path.
bool Listening(const std::string& path) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool accepted =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return accepted;
}

class NetworkManagerDbusTest : public ::testing::Test {
  protected:
    NetworkManagerDbusTest()
        : rootEnvironment_("QUARNEL_ROOT", root_.Path()),
          stateEnvironment_("XDG_STATE_HOME", "/state") {
        test::EnableTraceLog();
    }
    ~NetworkManagerDbusTest() override {
        manager_.reset();
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
            int status = 0;
            ::waitpid(daemon_, &status, 0);
        }
    }

    // Starts the bus daemon; false (with a reason) when it cannot run here.
    bool StartBus(std::string& reason) {
        const std::string socket = root_.Path() + "/run/dbus/system_bus_socket";
        std::filesystem::create_directories(root_.Path() + "/run/dbus");
        const std::string config = root_.Path() + "/bus.conf";
        std::ofstream(config)
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>system</type><listen>unix:path="
            << socket
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
               "<allow receive_sender=\"*\"/></policy></busconfig>\n";
        std::string configArgument = "--config-file=" + config;
        char program[] = "dbus-daemon";
        char noFork[] = "--nofork";
        char* argv[] = {program, configArgument.data(), noFork, nullptr};
        if (::posix_spawnp(&daemon_, program, nullptr, nullptr, argv, environ) != 0) {
            daemon_ = 0;
            reason = "dbus-daemon cannot be started";
            return false;
        }
        // The socket file appears at bind, a moment before the daemon listens: a connection
        // tells that it does.
        for (int i = 0; i < 250 && !Listening(socket); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!Listening(socket)) {
            reason = "dbus-daemon did not open its socket";
            return false;
        }
        address_ = "unix:path=" + socket;
        return true;
    }

    bool StartManager(std::map<std::string, FakeDevice> devices) {
        manager_ = std::make_unique<FakeNetworkManager>(std::move(devices));
        return manager_->Start(address_);
    }

    void WriteFile(const std::string& path, const std::string& text) const {
        const std::string full = root_.Path() + path;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full) << text;
    }

    void WriteLeaseFiles() const {
        WriteFile(std::string("/var/lib/NetworkManager/internal-") + kUuid + "-lo.lease",
                  "DOMAINNAME=file.example\n");
        WriteFile("/var/lib/dhcp/dhclient.leases",
                  "lease {\n  interface \"lo\";\n  option domain-name \"dhclient.example\";\n}\n");
    }

    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_;
    test::ScopedEnvironment stateEnvironment_;
    pid_t daemon_ = 0;
    std::string address_;
    std::unique_ptr<FakeNetworkManager> manager_;
};

#define START_BUS_OR_SKIP()         \
    do {                            \
        std::string reason;         \
        if (!StartBus(reason)) {    \
            GTEST_SKIP() << reason; \
        }                           \
    } while (0)

const std::string kDevice = "/org/freedesktop/NetworkManager/Devices/1";
const std::string kDhcp = "/org/freedesktop/NetworkManager/DHCP4Config/1";

TEST_F(NetworkManagerDbusTest, ManagedInterfaceAnswersFromItsDhcpOptions) {
    START_BUS_OR_SKIP();
    WriteLeaseFiles();
    ASSERT_TRUE(StartManager({{"lo", {kDevice, true, kDhcp, "nm.example"}}}));
    EXPECT_EQ(GetDhcpDomain("lo"), "nm.example");
    EXPECT_EQ(FindDhcpDomain("lo").source, "NetworkManager over D-Bus");
}

TEST_F(NetworkManagerDbusTest, ManagedWithoutDhcpHasNoDomainAndFilesAreNotAsked) {
    START_BUS_OR_SKIP();
    WriteLeaseFiles();
    ASSERT_TRUE(StartManager({{"lo", {kDevice, true, "/", ""}}}));
    EXPECT_EQ(GetDhcpDomain("lo"), "");
    EXPECT_EQ(FindDhcpDomain("lo").source, "NetworkManager over D-Bus");
}

TEST_F(NetworkManagerDbusTest, UnmanagedOrUnknownInterfacesFallToDhclientNotToStaleFiles) {
    START_BUS_OR_SKIP();
    WriteLeaseFiles();
    ASSERT_TRUE(StartManager({{"lo", {kDevice, false, kDhcp, "nm.example"}}}));
    EXPECT_EQ(GetDhcpDomain("lo"), "dhclient.example");
    manager_.reset();
    ASSERT_TRUE(StartManager({{"eth9", {kDevice, true, kDhcp, "nm.example"}}}));
    EXPECT_EQ(GetDhcpDomain("lo"), "dhclient.example");
}

TEST_F(NetworkManagerDbusTest, AnUnacceptableDomainIsRefused) {
    START_BUS_OR_SKIP();
    ASSERT_TRUE(StartManager({{"lo", {kDevice, true, kDhcp, "bad domain\n"}}}));
    EXPECT_EQ(GetDhcpDomain("lo"), "");
    EXPECT_GE(test::CountLogEntries(test::TraceLogText(), "GetDhcpDomain",
                                    "NetworkManager's domain name holds characters a domain "
                                    "cannot have"),
              1);
}

TEST_F(NetworkManagerDbusTest, WithoutNetworkManagerOnTheBusItsLeaseFilesAreRead) {
    START_BUS_OR_SKIP();
    WriteLeaseFiles();
    EXPECT_EQ(GetDhcpDomain("lo"), "file.example");
}

}  // namespace
}  // namespace quarnel
