#pragma once

// The DHCP domain of an adapter, from the DHCP client that serves it (see platform/dhcp_domain.h
// for the sources); empty when none knows the adapter or it got no domain.

#include <string>
#include <string_view>

namespace quarnel {

std::string GetDhcpDomain(std::string_view guid);

}  // namespace quarnel
