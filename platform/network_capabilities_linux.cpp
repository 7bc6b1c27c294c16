#include <linux/netlink.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>
#include <sys/socket.h>

#include "platform/network_capabilities.h"
#include "platform/unique_fd.h"

namespace quarnel {

bool IsNetlinkUsable() {
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    return fd.Valid();
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
