#include "libraries/src/adapter/dhcp_domain.h"

#include "diagnostics/log.h"
#include "platform/dhcp_domain.h"

namespace quarnel {

std::string GetDhcpDomain(std::string_view guid) {
    QLOG(kLogTrace, "GetDhcpDomain", "GUID = " + std::string(guid));
    const DhcpDomainAnswer answer = FindDhcpDomain(std::string(guid));
    for (const std::string& problem : answer.problems) {
        QLOG(kLogTrace, "GetDhcpDomain", problem);
    }
    QLOG(kLogTrace, "GetDhcpDomain",
         "Source = " + (answer.source.empty() ? std::string("none") : answer.source));
    QLOG(kLogTrace, "GetDhcpDomain", "DhcpDomain = " + answer.domain);
    return answer.domain;
}

}  // namespace quarnel
