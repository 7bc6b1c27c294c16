// The system's resolvers as /etc/resolv.conf names them, inside a private network and mount
// namespace whose resolv.conf points at the test DNS responder on the namespace's own loopback.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "ddns/address_detection.h"
#include "ddns/dns_resolver.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

// Exit codes of the child, so the parent can say what went wrong.
enum ChildResult {
    kChildPassed = 0,
    kChildNoNamespace = 10,
    kChildNoMount = 11,
    kChildNoLoopback = 12,
    kChildNoEmulator = 13,
    kChildAliasWrong = 20,
    kChildPlainWrong = 21,
    kChildProbeWrong = 22,
    kChildTimedOut = 30,
};

bool BringLoopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

int RunInNamespace(const std::string& folder) {
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
        return kChildNoNamespace;
    }
    const std::string resolvConf = folder + "/resolv.conf";
    {
        std::ofstream out(resolvConf);
        out << "nameserver 127.0.0.1\noptions timeout:2 attempts:1\n";
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
        return kChildNoMount;
    }
    if (!BringLoopbackUp()) {
        return kChildNoLoopback;
    }
    test::ProviderEmulator responder;
    test::ProviderEmulator::Options options;
    options.dnsPort = 53;
    options.httpPort = -1;
    options.httpsPort = -1;
    options.commands = {"/admin/dns?name=alias.test&answer=CNAME:target.test",
                        "/admin/dns?name=target.test&answer=A:203.0.113.77",
                        "/admin/dns?name=probe.test&answer=A:203.0.113.78"};
    if (!responder.Start(options)) {
        return kChildNoEmulator;
    }
    if (ResolveHostName("alias.test", "") != "203.0.113.77") {
        return kChildAliasWrong;
    }
    // Given resolvers for the first step; the alias target again from resolv.conf.
    if (ResolveHostName("alias.test", "127.0.0.1:53") != "203.0.113.77") {
        return kChildAliasWrong;
    }
    if (ResolveHostName("target.test", "") != "203.0.113.77") {
        return kChildPlainWrong;
    }
    if (!test::SetEndpointOverride(Endpoint::ProbeHost, "probe.test") || !TestConnectivity()) {
        return kChildProbeWrong;
    }
    return kChildPassed;
}

TEST(SystemResolverNamespaceTest, AliasTargetIsResolvedAtTheResolversOfResolvConf) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root for a private network and mount namespace";
    }
    test::TemporaryFolder root;
    test::ScopedEnvironment quarnelRoot("QUARNEL_ROOT", root.Path());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(RunInNamespace(root.Path()));
    }
    int status = 0;
    bool ended = false;
    for (int attempt = 0; attempt < 3000 && !ended; ++attempt) {
        ended = ::waitpid(child, &status, WNOHANG) == child;
        if (!ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        status = kChildTimedOut << 8;
    }
    ASSERT_TRUE(WIFEXITED(status));
    const int result = WEXITSTATUS(status);
    if (result == kChildNoNamespace || result == kChildNoMount) {
        GTEST_SKIP() << "private namespaces are not available here (" << result << ")";
    }
    EXPECT_EQ(result, kChildPassed);
}

}  // namespace
}  // namespace quarnel
