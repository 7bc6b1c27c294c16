#pragma once

// NetworkManager's DHCP4 options of one interface, over the system D-Bus.

#include <string>

namespace quarnel {

struct NetworkManagerDhcp {
    // NetworkManager owns its name on the system bus.
    bool onBus = false;
    // It manages the interface; domain is then its DHCP4 domain_name (empty without DHCP).
    bool managesInterface = false;
    std::string domain;
    std::string problem;
};

NetworkManagerDhcp AskNetworkManagerDhcp(const std::string& interfaceName);

}  // namespace quarnel
