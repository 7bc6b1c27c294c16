#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/wireless.h"
#include "platform/wireless_elements.h"

namespace quarnel {
namespace {

struct SocketDeleter {
    void operator()(nl_sock* sock) const { nl_socket_free(sock); }
};
struct MessageDeleter {
    void operator()(nl_msg* message) const { nlmsg_free(message); }
};
struct CallbackDeleter {
    void operator()(nl_cb* callbacks) const { nl_cb_put(callbacks); }
};
using GenlSocket = std::unique_ptr<nl_sock, SocketDeleter>;
using GenlMessage = std::unique_ptr<nl_msg, MessageDeleter>;
using GenlCallbacks = std::unique_ptr<nl_cb, CallbackDeleter>;

// The kernel answers at once; the bound only keeps a stuck socket from hanging the caller.
constexpr int kReceiveTimeoutSeconds = 2;
// Messages read for one request at most (a scan dump has one per access point).
constexpr int kMaximumReceiveRounds = 4096;

struct RequestState {
    // 1 while the answer is incomplete, 0 when it ended well, a negative error otherwise.
    int status = 1;
    bool gotInterface = false;
    std::string ssid;
    bool associatedBssFound = false;
};

int OnError(sockaddr_nl*, nlmsgerr* error, void* argument) {
    static_cast<RequestState*>(argument)->status = error->error < 0 ? error->error : -error->error;
    return NL_STOP;
}

int OnFinish(nl_msg*, void* argument) {
    static_cast<RequestState*>(argument)->status = 0;
    return NL_SKIP;
}

int OnAck(nl_msg*, void* argument) {
    static_cast<RequestState*>(argument)->status = 0;
    return NL_STOP;
}

std::string AttributeBytes(nlattr* attribute) {
    const int length = nla_len(attribute);
    if (length <= 0) {
        return {};
    }
    const std::size_t kept = static_cast<std::size_t>(length) < kMaximumSsidLength
                                 ? static_cast<std::size_t>(length)
                                 : kMaximumSsidLength;
    return std::string(static_cast<const char*>(nla_data(attribute)), kept);
}

int OnInterface(nl_msg* message, void* argument) {
    auto* state = static_cast<RequestState*>(argument);
    auto* header = static_cast<genlmsghdr*>(nlmsg_data(nlmsg_hdr(message)));
    nlattr* attributes[NL80211_ATTR_MAX + 1] = {};
    if (nla_parse(attributes, NL80211_ATTR_MAX, genlmsg_attrdata(header, 0),
                  genlmsg_attrlen(header, 0), nullptr) < 0) {
        return NL_SKIP;
    }
    state->gotInterface = true;
    if (attributes[NL80211_ATTR_SSID] != nullptr) {
        state->ssid = AttributeBytes(attributes[NL80211_ATTR_SSID]);
    }
    return NL_SKIP;
}

int OnScanEntry(nl_msg* message, void* argument) {
    auto* state = static_cast<RequestState*>(argument);
    if (state->associatedBssFound) {
        return NL_SKIP;
    }
    auto* header = static_cast<genlmsghdr*>(nlmsg_data(nlmsg_hdr(message)));
    nlattr* attributes[NL80211_ATTR_MAX + 1] = {};
    if (nla_parse(attributes, NL80211_ATTR_MAX, genlmsg_attrdata(header, 0),
                  genlmsg_attrlen(header, 0), nullptr) < 0 ||
        attributes[NL80211_ATTR_BSS] == nullptr) {
        return NL_SKIP;
    }
    nlattr* bss[NL80211_BSS_MAX + 1] = {};
    if (nla_parse_nested(bss, NL80211_BSS_MAX, attributes[NL80211_ATTR_BSS], nullptr) < 0 ||
        bss[NL80211_BSS_STATUS] == nullptr ||
        nla_len(bss[NL80211_BSS_STATUS]) < static_cast<int>(sizeof(std::uint32_t)) ||
        nla_get_u32(bss[NL80211_BSS_STATUS]) != NL80211_BSS_STATUS_ASSOCIATED) {
        return NL_SKIP;
    }
    state->associatedBssFound = true;
    nlattr* elements = bss[NL80211_BSS_INFORMATION_ELEMENTS] != nullptr
                           ? bss[NL80211_BSS_INFORMATION_ELEMENTS]
                           : bss[NL80211_BSS_BEACON_IES];
    if (elements != nullptr && nla_len(elements) > 0) {
        state->ssid =
            SsidFromInformationElements(static_cast<const std::uint8_t*>(nla_data(elements)),
                                        static_cast<std::size_t>(nla_len(elements)));
    }
    return NL_SKIP;
}

// Sends one nl80211 request for the interface and reads the answer to its end. Returns 0 or a
// negative error.
int Request(nl_sock* sock, int family, std::uint8_t command, int flags, int interfaceIndex,
            nl_recvmsg_msg_cb_t onValid, RequestState& state) {
    GenlMessage message(nlmsg_alloc());
    GenlCallbacks callbacks(nl_cb_alloc(NL_CB_DEFAULT));
    if (!message || !callbacks) {
        return -NLE_NOMEM;
    }
    if (genlmsg_put(message.get(), NL_AUTO_PORT, NL_AUTO_SEQ, family, 0, flags, command, 0) ==
            nullptr ||
        nla_put_u32(message.get(), NL80211_ATTR_IFINDEX,
                    static_cast<std::uint32_t>(interfaceIndex)) < 0) {
        return -NLE_NOMEM;
    }
    nl_cb_set(callbacks.get(), NL_CB_VALID, NL_CB_CUSTOM, onValid, &state);
    nl_cb_set(callbacks.get(), NL_CB_FINISH, NL_CB_CUSTOM, OnFinish, &state);
    nl_cb_set(callbacks.get(), NL_CB_ACK, NL_CB_CUSTOM, OnAck, &state);
    nl_cb_err(callbacks.get(), NL_CB_CUSTOM, OnError, &state);
    if (const int sent = nl_send_auto(sock, message.get()); sent < 0) {
        return sent;
    }
    state.status = 1;
    for (int round = 0; state.status > 0 && round < kMaximumReceiveRounds; ++round) {
        if (const int received = nl_recvmsgs(sock, callbacks.get()); received < 0) {
            return received;
        }
    }
    return state.status > 0 ? -NLE_AGAIN : state.status;
}

}  // namespace

WirelessAssociation QueryWirelessAssociation(const std::string& interfaceName) {
    WirelessAssociation answer;
    GenlSocket sock(nl_socket_alloc());
    if (!sock) {
        answer.problem = "nl80211 socket could not be allocated";
        return answer;
    }
    if (genl_connect(sock.get()) < 0) {
        answer.problem = "generic netlink could not be opened";
        return answer;
    }
    timeval timeout{kReceiveTimeoutSeconds, 0};
    ::setsockopt(nl_socket_get_fd(sock.get()), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const int family = genl_ctrl_resolve(sock.get(), NL80211_GENL_NAME);
    if (family < 0) {
        answer.problem = "the nl80211 family is not available";
        return answer;
    }
    answer.familyResolved = true;
    answer.familyId = family;

    answer.interfaceIndex = static_cast<int>(::if_nametoindex(interfaceName.c_str()));
    if (answer.interfaceIndex == 0) {
        answer.problem = "no interface named " + interfaceName;
        return answer;
    }

    RequestState state;
    const int asked = Request(sock.get(), family, NL80211_CMD_GET_INTERFACE, 0,
                              answer.interfaceIndex, OnInterface, state);
    if (asked < 0 || !state.gotInterface) {
        // The kernel refuses the query (ENODEV, which libnl calls "object not found") for
        // interfaces that are not wireless.
        answer.problem = asked == 0 || asked == -NLE_OBJ_NOTFOUND
                             ? interfaceName + " is not a wireless interface"
                             : std::string("nl80211 interface query failed: ") + nl_geterror(asked);
        return answer;
    }
    answer.interfaceAnswered = true;
    if (!state.ssid.empty()) {
        answer.ssid = state.ssid;
        return answer;
    }

    // Older kernels and some drivers leave the SSID out of the interface answer; the BSS the
    // station is associated with still carries it in its information elements.
    RequestState scan;
    if (Request(sock.get(), family, NL80211_CMD_GET_SCAN, NLM_F_DUMP, answer.interfaceIndex,
                OnScanEntry, scan) == 0 &&
        scan.associatedBssFound) {
        answer.fromAssociatedBss = true;
        answer.ssid = scan.ssid;
    }
    return answer;
}

}  // namespace quarnel
