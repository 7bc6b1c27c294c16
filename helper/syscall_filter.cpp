#include "helper/syscall_filter.h"

#include <linux/netlink.h>
#include <netinet/in.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quarnel {
namespace {

struct FilterDeleter {
    void operator()(void* context) const { seccomp_release(context); }
};
using UniqueFilter = std::unique_ptr<void, FilterDeleter>;

// Memory, files already open or opened for reading (OpenSSL's configuration, the certificate
// store, the time zone), time, signals for an orderly abort, and the end of the process.
constexpr std::string_view kComputeCalls =
    "read readv pread64 write writev pwrite64 close lseek fstat newfstatat statx stat lstat openat "
    "open fcntl dup dup2 dup3 pipe pipe2 getdents64 readlink readlinkat access faccessat "
    "faccessat2 brk mmap munmap mremap mprotect madvise futex getrandom clock_gettime clock_getres "
    "gettimeofday time clock_nanosleep nanosleep rt_sigaction rt_sigprocmask rt_sigreturn "
    "sigaltstack getpid gettid tgkill getuid geteuid getgid getegid uname sysinfo prlimit64 "
    "getrlimit sched_getaffinity sched_yield set_robust_list rseq exit exit_group restart_syscall "
    "ioctl fsync fdatasync ftruncate set_tid_address";

// A TLS client: sockets, name resolution (the resolver's threads, netlink for the addresses of
// this host, the name service's local socket), waiting on many descriptors.
constexpr std::string_view kNetworkCalls =
    "connect sendto recvfrom sendmsg recvmsg sendmmsg recvmmsg bind getsockname getpeername "
    "getsockopt setsockopt shutdown poll ppoll select pselect6 epoll_create1 epoll_ctl epoll_wait "
    "epoll_pwait eventfd2 mlock munlock membarrier getppid prctl";

// The sockets a transfer and its name resolution make: TCP and UDP over both internet families
// (UDP also for the resolver's own exchange and the probes of which family works), and the routing
// family of netlink, through which the resolver learns this host's addresses. Nothing else: no
// raw or ICMP sockets, no netlink family that lists the host's sockets or processes.
struct SocketKind {
    int family;
    int type;
    int protocol;
};
constexpr SocketKind kSocketKinds[] = {
    {AF_INET, SOCK_STREAM, 0},
    {AF_INET, SOCK_STREAM, IPPROTO_TCP},
    {AF_INET, SOCK_DGRAM, 0},
    {AF_INET, SOCK_DGRAM, IPPROTO_UDP},
    {AF_INET6, SOCK_STREAM, 0},
    {AF_INET6, SOCK_STREAM, IPPROTO_TCP},
    {AF_INET6, SOCK_DGRAM, 0},
    {AF_INET6, SOCK_DGRAM, IPPROTO_UDP},
    {AF_NETLINK, SOCK_RAW, NETLINK_ROUTE},
    {AF_NETLINK, SOCK_DGRAM, NETLINK_ROUTE},
};
// The type argument also carries SOCK_NONBLOCK and SOCK_CLOEXEC.
constexpr scmp_datum_t kSocketTypeMask = 0xF;

// Local sockets are refused (the call fails, so the name service falls back to its files and
// DNS): through them the helper could reach the journal or the system log and write lines in
// the name of the program that started it. socketpair stays: it connects nothing.
bool AllowSockets(void* filter) {
    for (const SocketKind& kind : kSocketKinds) {
        if (seccomp_rule_add(
                filter, SCMP_ACT_ALLOW, SCMP_SYS(socket), 3,
                SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(kind.family)),
                SCMP_A1(SCMP_CMP_MASKED_EQ, kSocketTypeMask, static_cast<scmp_datum_t>(kind.type)),
                SCMP_A2(SCMP_CMP_EQ, static_cast<scmp_datum_t>(kind.protocol))) != 0) {
            return false;
        }
    }
    return seccomp_rule_add(filter, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(socket), 1,
                            SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(AF_UNIX))) == 0 &&
           seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(socketpair), 1,
                            SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(AF_UNIX))) == 0;
}

// A second filter, stacked with the main one, refuses the requests that push input into a terminal
// (whatever the upper bits of the argument: the kernel reads only the lower 32). The main filter
// allows ioctl as a whole, and a rule with arguments cannot carve an exception out of that.
bool RefuseTerminalInjection() {
    UniqueFilter filter(seccomp_init(SCMP_ACT_ALLOW));
    if (!filter) {
        return false;
    }
    for (const scmp_datum_t request : {scmp_datum_t{TIOCSTI}, scmp_datum_t{TIOCLINUX}}) {
        if (seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(EPERM), SCMP_SYS(ioctl), 1,
                             SCMP_A1(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request)) != 0) {
            return false;
        }
    }
    return seccomp_load(filter.get()) == 0;
}

// Allows every call named in the list (separated by spaces).
bool AllowAll(void* filter, std::string_view names) {
    while (!names.empty()) {
        const std::size_t end = names.find(' ');
        const std::string name(names.substr(0, end));
        names.remove_prefix(end == std::string_view::npos ? names.size() : end + 1);
        const int number = seccomp_syscall_resolve_name(name.c_str());
        // A call this architecture does not have (an old stat variant) needs no rule.
        if (number != __NR_SCMP_ERROR && seccomp_rule_add(filter, SCMP_ACT_ALLOW, number, 0) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool InstallSyscallFilter(FilterProfile profile) {
    UniqueFilter filter(seccomp_init(SCMP_ACT_KILL_PROCESS));
    if (!filter) {
        return false;
    }
    if (!AllowAll(filter.get(), kComputeCalls)) {
        return false;
    }
    if (profile == FilterProfile::Network) {
        if (!AllowAll(filter.get(), kNetworkCalls)) {
            return false;
        }
        if (!AllowSockets(filter.get())) {
            return false;
        }
        // Threads for the resolver, but no new processes: clone only with CLONE_THREAD. clone3
        // passes its flags in memory a filter cannot read, so it reports itself missing and
        // glibc falls back to clone.
        if (seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                             SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)) != 0 ||
            seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) != 0) {
            return false;
        }
    }
    // The stacked filter first: once the main one is in place, no further filter can be loaded.
    return RefuseTerminalInjection() && seccomp_load(filter.get()) == 0;
}

}  // namespace quarnel
