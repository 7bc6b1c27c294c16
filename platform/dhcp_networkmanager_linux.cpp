#include "platform/dhcp_networkmanager_linux.h"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/paths.h"

namespace quarnel {
namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kDeviceInterface = "org.freedesktop.NetworkManager.Device";
// A live NetworkManager answers in milliseconds; the bound keeps a hung one from stalling the
// update cycle.
constexpr std::uint64_t kCallTimeoutMicroseconds = 2'000'000;

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;
using Message = std::unique_ptr<sd_bus_message, MessageDeleter>;

class BusError {
  public:
    BusError() = default;
    ~BusError() { sd_bus_error_free(&error_); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    sd_bus_error* Get() { return &error_; }
    std::string Text(int code) const {
        if (error_.message != nullptr) {
            return error_.message;
        }
        return std::strerror(code < 0 ? -code : code);
    }

  private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

// The system bus; below QUARNEL_ROOT when that is set, so tests bring their own bus.
Bus OpenSystemBus(std::string& problem) {
    sd_bus* bus = nullptr;
    int result = 0;
    if (QuarnelRoot().empty()) {
        result = sd_bus_open_system(&bus);
    } else {
        result = sd_bus_new(&bus);
        if (result >= 0) {
            const std::string address = "unix:path=" + RootedPath("/run/dbus/system_bus_socket");
            if ((result = sd_bus_set_address(bus, address.c_str())) >= 0 &&
                (result = sd_bus_set_bus_client(bus, 1)) >= 0) {
                result = sd_bus_start(bus);
            }
        }
    }
    Bus owned(bus);
    if (result < 0) {
        problem = std::string("the system bus is not reachable: ") + std::strerror(-result);
        return nullptr;
    }
    sd_bus_set_method_call_timeout(bus, kCallTimeoutMicroseconds);
    return owned;
}

// Reads the a{sv} options of a DHCP4 configuration (the reply sits inside the property's
// variant) and returns domain_name.
int ReadDomainOption(sd_bus_message* reply, std::string& domain) {
    int result = sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "{sv}");
    if (result < 0) {
        return result;
    }
    while ((result = sd_bus_message_enter_container(reply, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
        const char* key = nullptr;
        if ((result = sd_bus_message_read(reply, "s", &key)) < 0) {
            return result;
        }
        if (std::strcmp(key, "domain_name") == 0) {
            const char* value = nullptr;
            if (sd_bus_message_read(reply, "v", "s", &value) >= 0 && value != nullptr) {
                domain = value;
            } else {
                return -EBADMSG;
            }
        } else if ((result = sd_bus_message_skip(reply, "v")) < 0) {
            return result;
        }
        if ((result = sd_bus_message_exit_container(reply)) < 0) {
            return result;
        }
    }
    if (result < 0) {
        return result;
    }
    return sd_bus_message_exit_container(reply);
}

}  // namespace

NetworkManagerDhcp AskNetworkManagerDhcp(const std::string& interfaceName) {
    NetworkManagerDhcp answer;
    Bus bus = OpenSystemBus(answer.problem);
    if (!bus) {
        return answer;
    }

    // Asking the bus first keeps a call from starting NetworkManager by activation.
    {
        BusError error;
        sd_bus_message* raw = nullptr;
        const int result = sd_bus_call_method(bus.get(), "org.freedesktop.DBus",
                                              "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                              "NameHasOwner", error.Get(), &raw, "s", kService);
        Message reply(raw);
        int hasOwner = 0;
        if (result < 0 || sd_bus_message_read(reply.get(), "b", &hasOwner) < 0) {
            answer.problem = "the system bus did not answer: " + error.Text(result);
            return answer;
        }
        if (!hasOwner) {
            return answer;
        }
    }
    answer.onBus = true;

    std::string devicePath;
    {
        BusError error;
        sd_bus_message* raw = nullptr;
        const int result =
            sd_bus_call_method(bus.get(), kService, "/org/freedesktop/NetworkManager", kService,
                               "GetDeviceByIpIface", error.Get(), &raw, "s", interfaceName.c_str());
        Message reply(raw);
        const char* path = nullptr;
        if (result < 0 || sd_bus_message_read(reply.get(), "o", &path) < 0 || path == nullptr) {
            // Unknown devices are an error reply; NetworkManager does not know the interface.
            return answer;
        }
        devicePath = path;
    }

    {
        BusError error;
        int managed = 0;
        const int result =
            sd_bus_get_property_trivial(bus.get(), kService, devicePath.c_str(), kDeviceInterface,
                                        "Managed", error.Get(), 'b', &managed);
        if (result < 0) {
            answer.problem = "NetworkManager did not say whether it manages " + interfaceName +
                             ": " + error.Text(result);
            return answer;
        }
        if (!managed) {
            return answer;
        }
    }
    answer.managesInterface = true;

    std::string configPath;
    {
        BusError error;
        sd_bus_message* raw = nullptr;
        const int result =
            sd_bus_get_property(bus.get(), kService, devicePath.c_str(), kDeviceInterface,
                                "Dhcp4Config", error.Get(), &raw, "o");
        Message reply(raw);
        const char* path = nullptr;
        if (result < 0 || sd_bus_message_read(reply.get(), "o", &path) < 0 || path == nullptr) {
            answer.problem = "NetworkManager gave no DHCP4 configuration path for " +
                             interfaceName + ": " + error.Text(result);
            return answer;
        }
        configPath = path;
    }
    if (configPath == "/") {
        // Managed without DHCP: no domain.
        return answer;
    }

    BusError error;
    sd_bus_message* raw = nullptr;
    const int result = sd_bus_get_property(bus.get(), kService, configPath.c_str(),
                                           "org.freedesktop.NetworkManager.DHCP4Config", "Options",
                                           error.Get(), &raw, "a{sv}");
    Message reply(raw);
    if (result < 0) {
        answer.problem =
            "NetworkManager gave no DHCP4 options for " + interfaceName + ": " + error.Text(result);
        return answer;
    }
    if (const int read = ReadDomainOption(reply.get(), answer.domain); read < 0) {
        answer.domain.clear();
        answer.problem = "NetworkManager's DHCP4 options could not be read: " + error.Text(read);
    }
    return answer;
}

}  // namespace quarnel
