#include "network/network_filter.h"

#include <string_view>

#include "diagnostics/log.h"
#include "libraries/src/adapter/adapter.h"
#include "libraries/src/adapter/dhcp_domain.h"
#include "libraries/src/adapter/wlan_identifier.h"
#include "network/network_filter_sources.h"
#include "network/network_match.h"
#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr RegistryHive kSettingsHive = RegistryHive::LocalMachine;

// Applies one filter's list; logs and returns the match position (0: not listed).
std::int64_t MatchList(std::string_view listValue, const std::string& network) {
    const std::string list = ReadRegistryMultiString(kSettingsHive, kSettingsKey, listValue);
    QLOG(kLogTrace, "TestNetwork", "Networks = " + list);
    const std::int64_t result = FindNetworkEntry(list, network);
    QLOG(kLogTrace, "TestNetwork", "Result = " + std::to_string(result));
    return result;
}

}  // namespace

std::string GetNetwork() {
    QLOG(kLogTrace, "GetNetwork", "Identifiying network");
    const std::string gateway = GetGatewayIPAddress();
    QLOG(kLogTrace, "GetNetwork", "Gateway = " + gateway);
    std::string network;
    if (!gateway.empty()) {
        network = gateway;
        const std::string adapter = GetAdapterGUID();
        QLOG(kLogTrace, "GetNetwork", "Adapter = " + adapter);
        if (!adapter.empty()) {
            const std::string domain = GetDhcpDomain(adapter);
            QLOG(kLogTrace, "GetNetwork", "Domain = " + domain);
            if (!domain.empty()) {
                network = domain;
            }
        }
    }
    QLOG(kLogTrace, "GetNetwork", "Network = " + network);
    return network;
}

std::int64_t TestNetworkWith(const NetworkIdentifierSources& sources) {
    QLOG(kLogTrace, "TestNetwork", "Testing network filter");
    std::int64_t result = 1;
    if (ReadRegistryDword(kSettingsHive, kSettingsKey, kValueLocalFilter) != 0) {
        QLOG(kLogTrace, "TestNetwork", "Local network filter active");
        const std::string network = sources.localNetwork();
        QLOG(kLogTrace, "TestNetwork", "Network = " + network);
        if (!network.empty()) {
            result = MatchList(kValueLocalNetworks, network);
        }
    }
    if (result != 0 && ReadRegistryDword(kSettingsHive, kSettingsKey, kValueWirelessFilter) != 0) {
        QLOG(kLogTrace, "TestNetwork", "Wireless network filter active");
        const std::string network = sources.wirelessNetwork();
        QLOG(kLogTrace, "TestNetwork", "Network = " + network);
        if (!network.empty()) {
            result = MatchList(kValueWirelessNetworks, network);
        }
    }
    return result;
}

std::int64_t TestNetwork() {
    return TestNetworkWith({&GetNetwork, &GetGatewayWLANIdentifier});
}

}  // namespace quarnel
