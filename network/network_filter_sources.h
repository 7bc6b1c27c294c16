#pragma once

// The filter decision with its identifier sources passed in, so that networks this machine
// cannot join (a wireless one, here) can be put before it. TestNetwork uses the real sources.

#include <cstdint>
#include <functional>
#include <string>

namespace quarnel {

struct NetworkIdentifierSources {
    std::function<std::string()> localNetwork;
    std::function<std::string()> wirelessNetwork;
};

std::int64_t TestNetworkWith(const NetworkIdentifierSources& sources);

}  // namespace quarnel
