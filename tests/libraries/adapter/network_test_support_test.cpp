// The tests' private network stands on its own: it needs no name file that a full installation
// happens to have.

#include "tests/libraries/adapter/network_test_support.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

namespace quarnel {
namespace {

// Runs in a child process: hides the machine's /etc behind an empty one, then enters the private
// network and looks the host name up. Returns the address found, "skip: <reason>" or an error.
std::string LookUpOnABareMachine(const std::string& host) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/etc", "tmpfs", MS_NOSUID | MS_NODEV, "mode=755") != 0) {
        return std::string("skip: cannot hide /etc: ") + std::strerror(errno);
    }
    // No hosts file and no nsswitch.conf (debootstrap's minbase), and a resolv.conf that links
    // into a /run where nothing answers.
    if (::symlink("/run/systemd/resolve/stub-resolv.conf", "/etc/resolv.conf") != 0) {
        return "cannot link /etc/resolv.conf";
    }
    std::string reason;
    if (!test::EnterPrivateNetwork(host, "198.51.100.20 " + host + "\n", reason)) {
        return "no private network: " + reason;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    const int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (error != 0) {
        return std::string("no address: ") + ::gai_strerror(error);
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text,
                sizeof text);
    ::freeaddrinfo(found);
    return text;
}

TEST(PrivateNetworkTest, MakesTheNameFilesAMinimalInstallationLacks) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: the test creates mount and network namespaces";
    }
    if (test::ReadFileText("/proc/filesystems").find("\toverlay\n") == std::string::npos) {
        GTEST_SKIP() << "the kernel has no overlay file system to lay the missing files on /etc";
    }
    const std::string host = test::UniqueName("qn");
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string outcome = LookUpOnABareMachine(host);
        (void)!::write(pipe[1], outcome.data(), outcome.size());
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string outcome;
    pollfd readable{pipe[0], POLLIN, 0};
    char buffer[512];
    ssize_t got = 1;
    while (got > 0 && ::poll(&readable, 1, 30000) == 1) {
        got = ::read(pipe[0], buffer, sizeof buffer);
        outcome.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ::close(pipe[0]);
    ::kill(child, SIGKILL);  // only when it hangs; it has ended otherwise
    ::waitpid(child, nullptr, 0);
    if (outcome.starts_with("skip: ")) {
        GTEST_SKIP() << outcome.substr(6);
    }
    EXPECT_EQ(outcome, "198.51.100.20");
}

}  // namespace
}  // namespace quarnel
