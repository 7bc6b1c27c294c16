#pragma once

namespace quarnel {

// Whether rtnetlink can be opened: adapters, addresses, routes and their change notifications
// depend on it.
bool IsNetlinkUsable();
// Whether the nl80211 generic-netlink family resolves: wireless identification depends on it.
bool IsNl80211Usable();

}  // namespace quarnel
