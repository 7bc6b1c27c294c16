#include "helper/syscall_filter.h"

#include <sched.h>
#include <seccomp.h>
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

constexpr int kSocketFamilies[] = {AF_INET, AF_INET6, AF_UNIX, AF_NETLINK};

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
        for (const int family : kSocketFamilies) {
            if (seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(socket), 1,
                                 SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(family))) != 0) {
                return false;
            }
        }
        if (seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(socketpair), 1,
                             SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(AF_UNIX))) != 0) {
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
    return seccomp_load(filter.get()) == 0;
}

}  // namespace quarnel
