#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>
#include <sys/socket.h>

#include "platform/network_capabilities.h"
#include "platform/rtnetlink_socket_linux.h"
#include "platform/unique_fd.h"

namespace quarnel {

// Usable means more than that the socket opens: the change notifications need the multicast
// groups, and the queries need the kernel to answer a dump (a sandbox may allow the socket and
// refuse the rest).
bool IsNetlinkUsable() {
    UniqueFd fd = OpenRouteSocket({RTNLGRP_LINK, RTNLGRP_IPV4_IFADDR, RTNLGRP_IPV4_ROUTE});
    if (!fd || !SendDumpRequest(fd.Get(), RTM_GETLINK, AF_UNSPEC, 1)) {
        return false;
    }
    constexpr int kAnswerTimeoutMs = 2000;
    if (!WaitReadable(fd.Get(), kAnswerTimeoutMs)) {
        return false;
    }
    char buffer[16384];
    const ssize_t got = ::recv(fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < static_cast<ssize_t>(sizeof(nlmsghdr))) {
        return false;
    }
    const auto* header = reinterpret_cast<const nlmsghdr*>(buffer);
    return header->nlmsg_type != NLMSG_ERROR;
}

bool IsNl80211Usable() {
    nl_sock* sock = nl_socket_alloc();
    if (sock == nullptr) {
        return false;
    }
    bool usable = false;
    if (genl_connect(sock) == 0) {
        usable = genl_ctrl_resolve(sock, "nl80211") >= 0;
    }
    nl_socket_free(sock);
    return usable;
}

}  // namespace quarnel
