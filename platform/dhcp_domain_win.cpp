#include <string>
#include <string_view>
#include <vector>

#include "platform/dhcp_domain.h"
#include "platform/registry_store.h"
#include "platform/tcpip_interfaces_win.h"
#include "platform/text.h"

namespace quarnel {

// The DHCP client of Windows keeps what the server handed out in the adapter's TCP/IP key.
DhcpDomainAnswer FindDhcpDomain(const std::string& interfaceName) {
    DhcpDomainAnswer answer;
    const std::string key = std::string(kTcpipInterfacesKey) + "\\" + interfaceName;
    if (interfaceName.empty() || !registry_store::KeyExists(RegistryHive::LocalMachine, key)) {
        return answer;
    }
    answer.source = "HKEY_LOCAL_MACHINE\\" + key;
    RegistryValue value;
    if (registry_store::ReadValue(RegistryHive::LocalMachine, key, "DhcpDomain", value)) {
        if (value.type == kRegSz || value.type == kRegExpandSz) {
            answer.domain = Utf16LeBytesToUtf8(value.data.data(), value.data.size(), true);
        } else {
            answer.problems.push_back(answer.source + "\\DhcpDomain is no text");
        }
    }
    return answer;
}

// No lease files: the registry key above is watched instead.
std::vector<LeaseFolder> DhcpLeaseFolders() {
    return {};
}

bool IsLeaseFileName(LeaseFolderKind /*kind*/, std::string_view /*name*/) {
    return false;
}

}  // namespace quarnel
