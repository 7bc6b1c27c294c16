#include <linux/if.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/clock.h"
#include "platform/dhcp_domain.h"
#include "platform/network_capabilities.h"
#include "platform/network_change.h"
#include "platform/rtnetlink_socket_linux.h"
#include "platform/unique_fd.h"

namespace quarnel {
namespace {

// How long the creation of a handle waits for each part of the kernel's table dump.
constexpr int kDumpReadTimeoutMs = 2000;
constexpr int kDumpAttempts = 4;
// Datagrams read per wake-up at most; the rest wakes the next poll.
constexpr int kDatagramsPerTake = 64;
// The grace the waits allow on top of the caller's time-out.
constexpr std::int64_t kTimeoutGraceMs = 1000;

// An address as the kernel identifies it on an interface.
using AddressKey = std::tuple<int, int, std::string, std::string>;

// The states of an IPv6 address that decide whether it can be published; IPv4 addresses have
// none of them.
constexpr std::uint32_t kWatchedIPv6Flags = IFA_F_TENTATIVE | IFA_F_DEPRECATED | IFA_F_DADFAILED;

bool IsAddressKind(NetworkChangeKind kind) {
    return kind == NetworkChangeKind::IPv4Address || kind == NetworkChangeKind::IPv4AndIPv6Address;
}

bool IsRouteKind(NetworkChangeKind kind) {
    return kind == NetworkChangeKind::IPv4Route || kind == NetworkChangeKind::IPv4AndIPv6Route;
}

struct LinkState {
    unsigned flags = 0;
    int operState = -1;
    std::string name;
    bool operator==(const LinkState&) const = default;
};

// The interface flags whose change counts: administratively up, running, carrier.
constexpr unsigned kWatchedLinkFlags = IFF_UP | IFF_RUNNING | IFF_LOWER_UP;

std::string AttributeBytes(const rtattr* attribute) {
    return std::string(static_cast<const char*>(RTA_DATA(attribute)), RTA_PAYLOAD(attribute));
}

// Keeps the state of a table entry; true when the entry is new or its state changed.
template <typename Table, typename Key, typename State>
bool Remember(Table& table, const Key& key, const State& state) {
    const auto [entry, inserted] = table.try_emplace(key, state);
    if (inserted) {
        return true;
    }
    if (entry->second == state) {
        return false;
    }
    entry->second = state;
    return true;
}

class NetworkChangeEvent final : public WaitEvent {
  public:
    // descriptor is what the waits poll: the netlink socket itself, or for the configuration
    // kind an epoll set holding the netlink socket and the lease-folder watch.
    NetworkChangeEvent(UniqueFd descriptor, NetworkChangeKind kind, std::int64_t timeoutMs)
        : WaitEvent(IntoHandle(std::move(descriptor))),
          kind_(kind),
          deadline_(timeoutMs < 0 ? -1 : MonotonicMilliseconds() + timeoutMs + kTimeoutGraceMs) {}

    // Owns the sockets the epoll set refers to (configuration kind only).
    void AdoptSources(UniqueFd netlink, UniqueFd leaseWatch,
                      std::map<int, LeaseFolderKind> folders) {
        netlinkOwned_ = std::move(netlink);
        leaseWatch_ = std::move(leaseWatch);
        folders_ = std::move(folders);
    }

    int NetlinkDescriptor() const {
        return netlinkOwned_ ? netlinkOwned_.Get() : DescriptorOf(Handle());
    }

    // Reads the current table (addresses or links) so that later messages can be told apart
    // from refreshes of what is already there.
    bool Synchronize() {
        if (IsRouteKind(kind_)) {
            return true;
        }
        const int fd = NetlinkDescriptor();
        const std::uint32_t port = RoutePortOf(fd);
        for (int attempt = 0; attempt < kDumpAttempts; ++attempt) {
            addresses_.clear();
            links_.clear();
            const std::uint32_t sequence = ++sequence_;
            const bool isAddress = IsAddressKind(kind_);
            const bool onlyIPv4 = kind_ == NetworkChangeKind::IPv4Address;
            if (!SendDumpRequest(fd, isAddress ? RTM_GETADDR : RTM_GETLINK,
                                 onlyIPv4 ? AF_INET : AF_UNSPEC, sequence)) {
                return false;
            }
            const DumpResult result = ReadDump(fd, port, sequence);
            if (result == DumpResult::Complete) {
                return true;
            }
            if (result == DumpResult::Failed) {
                return false;
            }
        }
        return false;
    }

    bool TakeSignal() override {
        if (expired_) {
            Drain();
            return false;
        }
        bool fired = false;
        if (kind_ == NetworkChangeKind::Configuration) {
            epoll_event events[2];
            const int ready = ::epoll_wait(DescriptorOf(Handle()), events, 2, 0);
            for (int i = 0; i < ready; ++i) {
                if (events[i].data.fd == leaseWatch_.Get()) {
                    fired = ReadLeaseWatch() || fired;
                } else {
                    fired = ReadNetlink() || fired;
                }
            }
        } else {
            fired = ReadNetlink();
        }
        if (deadline_ >= 0 && MonotonicMilliseconds() > deadline_) {
            Expire();
            return false;
        }
        return fired;
    }

  private:
    enum class DumpResult { Complete, Interrupted, Failed };

    DumpResult ReadDump(int fd, std::uint32_t port, std::uint32_t sequence) {
        std::vector<char> buffer(65536);
        bool interrupted = false;
        while (true) {
            if (!WaitReadable(fd, kDumpReadTimeoutMs)) {
                return DumpResult::Failed;
            }
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN) {
                    continue;
                }
                // An overrun while dumping loses part of the answer: read it again.
                return errno == ENOBUFS ? DumpResult::Interrupted : DumpResult::Failed;
            }
            std::size_t length = static_cast<std::size_t>(got);
            for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data());
                 NLMSG_OK(header, length); header = NLMSG_NEXT(header, length)) {
                const bool ours = header->nlmsg_seq == sequence && header->nlmsg_pid == port;
                if (!ours) {
                    // A change announced while the dump runs is part of the starting state.
                    Classify(header);
                    continue;
                }
                if (header->nlmsg_flags & NLM_F_DUMP_INTR) {
                    interrupted = true;
                }
                if (header->nlmsg_type == NLMSG_DONE) {
                    return interrupted ? DumpResult::Interrupted : DumpResult::Complete;
                }
                if (header->nlmsg_type == NLMSG_ERROR) {
                    return DumpResult::Failed;
                }
                Classify(header);
            }
        }
    }

    // Reads what is pending on the netlink socket; true when a watched change was among it.
    bool ReadNetlink() {
        const int fd = NetlinkDescriptor();
        std::vector<char> buffer(32768);
        bool fired = false;
        for (int i = 0; i < kDatagramsPerTake; ++i) {
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == ENOBUFS) {
                    // The queue overflowed and messages were lost: something changed, and the
                    // table this handle keeps must be read again.
                    fired = true;
                    Synchronize();
                    continue;
                }
                break;
            }
            if (static_cast<std::size_t>(got) > buffer.size()) {
                fired = true;
                continue;
            }
            std::size_t length = static_cast<std::size_t>(got);
            for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data());
                 NLMSG_OK(header, length); header = NLMSG_NEXT(header, length)) {
                fired = Classify(header) || fired;
            }
        }
        return fired;
    }

    // Applies one message to the kept table; true when it is a change this handle watches.
    bool Classify(const nlmsghdr* header) {
        switch (kind_) {
            case NetworkChangeKind::IPv4Address:
            case NetworkChangeKind::IPv4AndIPv6Address:
                return ClassifyAddress(header);
            case NetworkChangeKind::IPv4Route:
            case NetworkChangeKind::IPv4AndIPv6Route:
                return ClassifyRoute(header);
            case NetworkChangeKind::Configuration:
                return ClassifyLink(header);
        }
        return false;
    }

    bool ClassifyAddress(const nlmsghdr* header) {
        if ((header->nlmsg_type != RTM_NEWADDR && header->nlmsg_type != RTM_DELADDR) ||
            header->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) {
            return false;
        }
        const auto* message = static_cast<const ifaddrmsg*>(NLMSG_DATA(header));
        const bool ipv6 = message->ifa_family == AF_INET6;
        if (message->ifa_family != AF_INET &&
            !(ipv6 && kind_ == NetworkChangeKind::IPv4AndIPv6Address)) {
            return false;
        }
        std::string local;
        std::string address;
        std::uint32_t flags = message->ifa_flags;
        int length = static_cast<int>(IFA_PAYLOAD(header));
        for (const rtattr* attribute = IFA_RTA(message); RTA_OK(attribute, length);
             attribute = RTA_NEXT(attribute, length)) {
            if (attribute->rta_type == IFA_LOCAL) {
                local = AttributeBytes(attribute);
            } else if (attribute->rta_type == IFA_ADDRESS) {
                address = AttributeBytes(attribute);
            } else if (attribute->rta_type == IFA_FLAGS &&
                       RTA_PAYLOAD(attribute) >= sizeof(std::uint32_t)) {
                std::memcpy(&flags, RTA_DATA(attribute), sizeof flags);
            }
        }
        std::uint32_t state = 0;
        if (ipv6) {
            // Link-local, unique-local and temporary addresses come and go without changing
            // which address is published.
            if (address.size() != 16 || (static_cast<unsigned char>(address[0]) & 0xE0) != 0x20 ||
                (flags & IFA_F_TEMPORARY) != 0) {
                return false;
            }
            state = flags & kWatchedIPv6Flags;
        }
        const AddressKey key{static_cast<int>(message->ifa_index), message->ifa_prefixlen, local,
                             address};
        if (header->nlmsg_type == RTM_DELADDR) {
            addresses_.erase(key);
            return true;
        }
        // The kernel also announces an address again when only its lifetimes change (every
        // DHCP renewal, every router advertisement); that is no change of the address table.
        return Remember(addresses_, key, state);
    }

    bool ClassifyRoute(const nlmsghdr* header) const {
        if ((header->nlmsg_type != RTM_NEWROUTE && header->nlmsg_type != RTM_DELROUTE) ||
            header->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
            return false;
        }
        const auto* message = static_cast<const rtmsg*>(NLMSG_DATA(header));
        if ((message->rtm_flags & RTM_F_CLONED) != 0) {
            return false;
        }
        // The local table changes with every address, which the address kinds watch.
        return message->rtm_family == AF_INET ||
               (message->rtm_family == AF_INET6 && kind_ == NetworkChangeKind::IPv4AndIPv6Route &&
                message->rtm_table == RT_TABLE_MAIN);
    }

    bool ClassifyLink(const nlmsghdr* header) {
        if ((header->nlmsg_type != RTM_NEWLINK && header->nlmsg_type != RTM_DELLINK) ||
            header->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
            return false;
        }
        const auto* message = static_cast<const ifinfomsg*>(NLMSG_DATA(header));
        // Bridge-port announcements come with their own family; they are no interface change.
        if (message->ifi_family != AF_UNSPEC) {
            return false;
        }
        if (header->nlmsg_type == RTM_DELLINK) {
            links_.erase(message->ifi_index);
            return true;
        }
        LinkState state;
        state.flags = message->ifi_flags & kWatchedLinkFlags;
        int length = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(ifinfomsg)));
        for (const rtattr* attribute = IFLA_RTA(message); RTA_OK(attribute, length);
             attribute = RTA_NEXT(attribute, length)) {
            if (attribute->rta_type == IFLA_WIRELESS) {
                // Wireless drivers report scan results and similar events this way, often.
                return false;
            }
            if (attribute->rta_type == IFLA_IFNAME) {
                state.name = AttributeBytes(attribute);
                const std::size_t end = state.name.find('\0');
                if (end != std::string::npos) {
                    state.name.resize(end);
                }
            } else if (attribute->rta_type == IFLA_OPERSTATE && RTA_PAYLOAD(attribute) >= 1) {
                state.operState = *static_cast<const unsigned char*>(RTA_DATA(attribute));
            }
        }
        return Remember(links_, message->ifi_index, state);
    }

    bool ReadLeaseWatch() {
        alignas(inotify_event) char buffer[8192];
        bool fired = false;
        for (int i = 0; i < kDatagramsPerTake; ++i) {
            const ssize_t got = ::read(leaseWatch_.Get(), buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                    fired = true;
                    continue;
                }
                const auto folder = folders_.find(event->wd);
                if (folder != folders_.end() && event->len > 0 &&
                    IsLeaseFileName(folder->second, std::string(event->name))) {
                    fired = true;
                }
            }
        }
        return fired;
    }

    void Drain() {
        std::vector<char> buffer(32768);
        for (int i = 0; i < kDatagramsPerTake; ++i) {
            if (::recv(NetlinkDescriptor(), buffer.data(), buffer.size(), MSG_DONTWAIT) < 0 &&
                errno != EINTR) {
                break;
            }
        }
    }

    // After the deadline the handle stops listening, so the waits are not woken for nothing.
    void Expire() {
        expired_ = true;
        for (const unsigned group : {RTNLGRP_LINK, RTNLGRP_IPV4_IFADDR, RTNLGRP_IPV4_ROUTE,
                                     RTNLGRP_IPV6_IFADDR, RTNLGRP_IPV6_ROUTE}) {
            ::setsockopt(NetlinkDescriptor(), SOL_NETLINK, NETLINK_DROP_MEMBERSHIP, &group,
                         sizeof group);
        }
        if (leaseWatch_) {
            ::epoll_ctl(DescriptorOf(Handle()), EPOLL_CTL_DEL, leaseWatch_.Get(), nullptr);
            leaseWatch_.Reset();
        }
        Drain();
    }

    NetworkChangeKind kind_;
    std::int64_t deadline_;
    bool expired_ = false;
    std::uint32_t sequence_ = 0;
    UniqueFd netlinkOwned_;
    UniqueFd leaseWatch_;
    std::map<int, LeaseFolderKind> folders_;
    // The watched addresses with their IPv6 states.
    std::map<AddressKey, std::uint32_t> addresses_;
    std::map<int, LinkState> links_;
};

// The lease folders that exist, watched for lease files being written, renamed or removed.
UniqueFd WatchLeaseFolders(std::map<int, LeaseFolderKind>& folders) {
    UniqueFd fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd) {
        return fd;
    }
    constexpr std::uint32_t kMask = IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_MOVED_FROM |
                                    IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    for (const LeaseFolder& folder : DhcpLeaseFolders()) {
        const int wd = ::inotify_add_watch(fd.Get(), folder.path.c_str(), kMask);
        if (wd >= 0) {
            folders[wd] = folder.kind;
        }
    }
    return fd;
}

bool AddToEpoll(int epoll, int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

class OneShotTimer final : public WaitEvent {
  public:
    using WaitEvent::WaitEvent;
    bool TakeSignal() override {
        std::uint64_t expirations = 0;
        return ::read(DescriptorOf(Handle()), &expirations, sizeof expirations) ==
                   sizeof expirations &&
               expirations > 0;
    }
};

}  // namespace

WaitHandle CreateNetworkChangeHandle(NetworkChangeKind kind, std::int64_t timeoutMs) {
    switch (kind) {
        case NetworkChangeKind::IPv4Address:
        case NetworkChangeKind::IPv4Route:
        case NetworkChangeKind::IPv4AndIPv6Address:
        case NetworkChangeKind::IPv4AndIPv6Route: {
            const unsigned ipv4 = IsAddressKind(kind) ? RTNLGRP_IPV4_IFADDR : RTNLGRP_IPV4_ROUTE;
            const unsigned ipv6 = IsAddressKind(kind) ? RTNLGRP_IPV6_IFADDR : RTNLGRP_IPV6_ROUTE;
            const bool withIPv6 = kind == NetworkChangeKind::IPv4AndIPv6Address ||
                                  kind == NetworkChangeKind::IPv4AndIPv6Route;
            UniqueFd socket = withIPv6 ? OpenRouteSocket({ipv4, ipv6}) : OpenRouteSocket({ipv4});
            if (!socket) {
                return nullptr;
            }
            auto handle = std::make_unique<NetworkChangeEvent>(std::move(socket), kind, timeoutMs);
            if (!handle->Synchronize()) {
                return nullptr;
            }
            return handle;
        }
        case NetworkChangeKind::Configuration: {
            UniqueFd socket = OpenRouteSocket({RTNLGRP_LINK});
            UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
            std::map<int, LeaseFolderKind> folders;
            UniqueFd leaseWatch = WatchLeaseFolders(folders);
            if (!socket || !epoll || !leaseWatch || !AddToEpoll(epoll.Get(), socket.Get()) ||
                !AddToEpoll(epoll.Get(), leaseWatch.Get())) {
                return nullptr;
            }
            auto handle = std::make_unique<NetworkChangeEvent>(std::move(epoll), kind, timeoutMs);
            handle->AdoptSources(std::move(socket), std::move(leaseWatch), std::move(folders));
            if (!handle->Synchronize()) {
                return nullptr;
            }
            return handle;
        }
    }
    return nullptr;
}

WaitHandle CreateOneShotTimerHandle(std::int64_t milliseconds) {
    // Boot time keeps counting while the machine sleeps, so a check that fell due during a
    // suspend runs right after the resume.
    UniqueFd fd(::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!fd) {
        return nullptr;
    }
    itimerspec due{};
    if (milliseconds <= 0) {
        // A zero due time would disarm the timer; the earliest possible one fires at once.
        due.it_value.tv_nsec = 1;
    } else {
        due.it_value.tv_sec = static_cast<time_t>(milliseconds / 1000);
        due.it_value.tv_nsec = static_cast<long>((milliseconds % 1000) * 1000000);
    }
    if (::timerfd_settime(fd.Get(), 0, &due, nullptr) != 0) {
        return nullptr;
    }
    return std::make_unique<OneShotTimer>(IntoHandle(std::move(fd)));
}

bool IsNetworkConfigurationAvailable() {
    return IsNetlinkUsable();
}

}  // namespace quarnel
