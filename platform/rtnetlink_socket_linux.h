#pragma once

// Raw rtnetlink sockets: opening one, asking for a table dump and waiting for what comes back.

#include <linux/netlink.h>

#include <cstdint>
#include <initializer_list>

#include "platform/unique_fd.h"

namespace quarnel {

// A non-blocking, close-on-exec rtnetlink socket bound to a port the kernel picks, joined to
// the given multicast groups (RTNLGRP_* numbers); invalid on failure.
UniqueFd OpenRouteSocket(std::initializer_list<unsigned> groups);
// The port the kernel gave the socket; 0 when it cannot be read.
std::uint32_t RoutePortOf(int fd);
// Sends a dump request (RTM_GETLINK, RTM_GETADDR, ...) for one address family.
bool SendDumpRequest(int fd, std::uint16_t type, std::uint8_t family, std::uint32_t sequence);
// Waits up to timeoutMs for the socket to become readable.
bool WaitReadable(int fd, int timeoutMs);

}  // namespace quarnel
