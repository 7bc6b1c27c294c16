#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/netlink.h>
#include <linux/seccomp.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "helper/test_operations.h"
#include "platform/exchange_stop.h"
#include "platform/helper_call.h"
#include "platform/helper_call_frames.h"
#include "platform/unique_fd.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

// The fields of one /proc/<pid>/status line, after its name.
std::vector<std::string> StatusFields(const std::string& status, const std::string& name) {
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            std::istringstream words(line.substr(name.size() + 1));
            std::vector<std::string> fields;
            for (std::string word; words >> word;) {
                fields.push_back(word);
            }
            return fields;
        }
    }
    return {};
}

// Starts the test helper in a child of this process with its input on a socket this process
// made; input is written to it, then it is closed. Returns the helper's output and how it ended
// (a wait status).
struct Ran {
    std::string output;
    int status = -1;
};
Ran RunHelper(const std::string& input) {
    int channel[2];
    int output[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0 ||
        ::pipe2(output, O_CLOEXEC) != 0) {
        return {};
    }
    UniqueFd ours(channel[0]);
    UniqueFd theirs(channel[1]);
    UniqueFd read(output[0]);
    UniqueFd write(output[1]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(theirs.Get(), 0);
        ::dup2(write.Get(), 1);
        ::execl(QUARNEL_TEST_HELPER, QUARNEL_TEST_HELPER, nullptr);
        ::_exit(127);
    }
    theirs.Reset();
    write.Reset();
    (void)!::send(ours.Get(), input.data(), input.size(), MSG_NOSIGNAL);
    ours.Reset();
    Ran ran;
    char buffer[4096];
    for (ssize_t got; (got = ::read(read.Get(), buffer, sizeof buffer)) > 0;) {
        ran.output.append(buffer, static_cast<std::size_t>(got));
    }
    while (::waitpid(pid, &ran.status, 0) < 0 && errno == EINTR) {
    }
    return ran;
}

// One operation in the compute profile, as CallHelper sends it.
std::string Operation(std::uint8_t operation, std::string_view request = {}) {
    return std::string(1, kHelperProfileCompute) +
           HelperFrame(static_cast<char>(operation), request);
}

// A helper started for a session that never sent an operation sees its input end: it leaves at
// once, successfully and without a word.
TEST(HelperTest, AnInputThatEndsBeforeAnyOperationEndsItSilently) {
    const Ran ran = RunHelper("");
    EXPECT_TRUE(WIFEXITED(ran.status) && WEXITSTATUS(ran.status) == 0) << ran.status;
    EXPECT_EQ(ran.output, "");
}

TEST(HelperTest, RunsWithoutRootOrNewPrivilegesAndDiesOnAForbiddenCall) {
    test::ScopedEnvironment helper("QUARNEL_HELPER", std::string(QUARNEL_TEST_HELPER));
    HelperCall call;
    call.operation = static_cast<HelperOperation>(kTestOperationStatus);
    const std::optional<std::string> status = CallHelper(call);
    ASSERT_TRUE(status.has_value());
    if (::getuid() == 0) {
        const std::vector<std::string> uids = StatusFields(*status, "Uid");
        ASSERT_EQ(uids.size(), 4u);
        for (const std::string& uid : uids) {
            EXPECT_NE(uid, "0") << *status;
        }
        EXPECT_EQ(StatusFields(*status, "Gid").at(0) != "0", true) << *status;
    }
    EXPECT_EQ(StatusFields(*status, "NoNewPrivs"), std::vector<std::string>{"1"});
    EXPECT_EQ(StatusFields(*status, "Seccomp"), std::vector<std::string>{"2"});  // filter mode
    EXPECT_EQ(StatusFields(*status, "CapEff"), std::vector<std::string>{"0000000000000000"});

    // An internet socket is outside the compute profile: the kernel kills the helper.
    call.operation = static_cast<HelperOperation>(kTestOperationForbidden);
    EXPECT_EQ(CallHelper(call), std::nullopt);
    const int ended = RunHelper(Operation(kTestOperationForbidden)).status;
    EXPECT_TRUE(WIFSIGNALED(ended) && WTERMSIG(ended) == SIGSYS) << ended;
}

// The pids of this process's children.
std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::ifstream list("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                       "/children");
    std::vector<pid_t> children;
    for (pid_t child; list >> child;) {
        children.push_back(child);
    }
    return children;
}

// Gone, or a zombie nobody has reaped yet.
bool Ended(pid_t pid) {
    const std::string stat = test::ReadFileText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || stat.compare(close + 2, 1, "Z") == 0;
}

// A child that runs one CallHelper of the test helper's sleep operation; pid and the helper's.
struct CallerInFlight {
    pid_t caller = -1;
    pid_t helper = -1;
    ~CallerInFlight() {
        if (caller > 0) {
            ::kill(caller, SIGKILL);
            ::waitpid(caller, nullptr, 0);
        }
    }
};

// With fromTerminal, the caller leads a session whose controlling terminal is a new pty, on
// which its standard input, output and error are.
void StartCallerInFlight(CallerInFlight& flight, bool fromTerminal) {
    int terminal = -1;
    int device = -1;
    ASSERT_EQ(::openpty(&terminal, &device, nullptr, nullptr, nullptr), 0);
    const UniqueFd ours(terminal);
    const UniqueFd theirs(device);
    flight.caller = ::fork();
    if (flight.caller == 0) {
        if (fromTerminal) {
            ::setsid();
            ::ioctl(device, TIOCSCTTY, 0);
            for (int fd = 0; fd < 3; ++fd) {
                ::dup2(device, fd);
            }
        }
        HelperCall call;
        call.operation = static_cast<HelperOperation>(kTestOperationSleep);
        call.deadline = std::chrono::seconds(60);
        ::_exit(CallHelper(call) ? 0 : 1);
    }
    ASSERT_GT(flight.caller, 0);
    ASSERT_TRUE(test::Eventually([&] { return ChildrenOf(flight.caller).size() == 1; }, 10000));
    flight.helper = ChildrenOf(flight.caller)[0];
}

// A helper in flight, started from a shell's terminal, holds nothing of that terminal: its
// descriptors are its two channels and /dev/null, and it leads a session without one.
TEST(HelperTest, AHelperInFlightHoldsNoTerminalAndLeadsItsOwnSession) {
    test::ScopedEnvironment helper("QUARNEL_HELPER", std::string(QUARNEL_TEST_HELPER));
    CallerInFlight flight;
    StartCallerInFlight(flight, true);
    const std::string folder = "/proc/" + std::to_string(flight.helper);
    // Past its start, in its operation.
    ASSERT_TRUE(test::Eventually(
        [&] {
            return test::ReadFileText(folder + "/status").find("Seccomp:\t2") != std::string::npos;
        },
        10000));
    std::string listing;
    std::vector<std::string> targets;
    for (const auto& entry : std::filesystem::directory_iterator(folder + "/fd")) {
        const std::string target = std::filesystem::read_symlink(entry.path()).string();
        listing += entry.path().filename().string() + " -> " + target + "\n";
        targets.push_back(target);
    }
    const std::string stat = test::ReadFileText(folder + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string state, parent, group, session, terminal;
    fields >> state >> parent >> group >> session >> terminal;
    std::cout << folder << "/fd:\n"
              << listing << "session " << session << ", process group " << group
              << ", controlling terminal " << terminal << std::endl;
    ASSERT_EQ(targets.size(), 3u) << listing;
    EXPECT_TRUE(targets[0].starts_with("socket:")) << listing;
    EXPECT_TRUE(targets[1].starts_with("pipe:")) << listing;
    EXPECT_EQ(targets[2], "/dev/null") << listing;
    EXPECT_EQ(session, std::to_string(flight.helper));
    EXPECT_EQ(terminal, "0");
}

// A caller killed while its helper works takes the helper with it.
TEST(HelperTest, AHelperEndsWithItsCaller) {
    test::ScopedEnvironment helper("QUARNEL_HELPER", std::string(QUARNEL_TEST_HELPER));
    CallerInFlight flight;
    StartCallerInFlight(flight, false);
    ASSERT_EQ(::kill(flight.caller, SIGKILL), 0);
    ASSERT_EQ(::waitpid(flight.caller, nullptr, 0), flight.caller);
    flight.caller = -1;
    // Its operation would take a minute.
    EXPECT_TRUE(test::Eventually([&] { return Ended(flight.helper); }, 10000));
}

// A helper whose caller is already gone when it starts (it has another parent then) does nothing.
TEST(HelperTest, AHelperWhoseCallerIsGoneDoesNothing) {
    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    UniqueFd read(output[0]);
    UniqueFd write(output[1]);
    const pid_t caller = ::fork();
    if (caller == 0) {
        int channel[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
            ::_exit(1);
        }
        const pid_t self = ::getpid();
        if (::fork() == 0) {
            // Once the caller that made the socket has gone, with its end of it still open.
            for (int i = 0; i < 5000 && ::getppid() == self; ++i) {
                ::usleep(1000);
            }
            ::dup2(channel[1], 0);
            ::dup2(write.Get(), 1);
            ::execl(QUARNEL_TEST_HELPER, QUARNEL_TEST_HELPER, nullptr);
            ::_exit(127);
        }
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(caller, nullptr, 0), caller);
    write.Reset();
    std::string said;
    char buffer[512];
    for (ssize_t got; (got = ::read(read.Get(), buffer, sizeof buffer)) > 0;) {
        said.append(buffer, static_cast<std::size_t>(got));
    }
    EXPECT_NE(said.find("the caller is gone"), std::string::npos) << said;
}

// What a helper of the network profile can still reach: the files a transfer reads, the sockets
// it makes; and what it cannot.
TEST(HelperTest, ItsSandboxAllowsWhatATransferNeedsAndNothingElse) {
    test::ScopedEnvironment helper("QUARNEL_HELPER", std::string(QUARNEL_TEST_HELPER));
    test::TemporaryFolder folder;
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0777), 0);
    const std::string readable = folder.Path() + "/readable";
    std::ofstream(readable) << "x";
    ASSERT_EQ(::chmod(readable.c_str(), 0644), 0);
    // A process of the helper's own account, for a signal.
    HelperCall status;
    status.operation = static_cast<HelperOperation>(kTestOperationStatus);
    const std::optional<std::string> statusText = CallHelper(status);
    ASSERT_TRUE(statusText);
    const std::vector<std::string> uids = StatusFields(*statusText, "Uid");
    ASSERT_FALSE(uids.empty());
    const pid_t neighbour = ::fork();
    if (neighbour == 0) {
        const uid_t uid = static_cast<uid_t>(std::stoul(uids[0]));
        if (::setresuid(uid, uid, uid) != 0) {
            ::_exit(1);
        }
        ::sleep(30);
        ::_exit(0);
    }
    const struct {
        std::string tried;
        std::optional<std::string> outcome;  // nothing: the filter ends the helper
    } cases[] = {
        {"read /etc/resolv.conf", "ok"},
        {"read /etc/ssl/certs", "ok"},
        {"read /etc/passwd", "EACCES"},
        {"read /proc/1/status", "EACCES"},
        {"read " + readable, "EACCES"},
        {"write " + folder.Path() + "/new", "EACCES"},
        {"write /dev/null", "EACCES"},
        {"socket 2 1 0", "ok"},
        {"socket 10 2 17", "ok"},
        {"socket 16 3 0", "ok"},
        {"socket 16 3 " + std::to_string(NETLINK_SOCK_DIAG), std::nullopt},
        {"socket 2 3 1", std::nullopt},
        {"socket 2 2 1", std::nullopt},
        {"socket 1 1 0", "EACCES"},
        {"socket 1 2 0", "EACCES"},
        {"ioctl " + std::to_string(TIOCSTI), "EPERM"},
        {"ioctl " + std::to_string((1ULL << 32) | TIOCSTI), "EPERM"},
        {"ioctl " + std::to_string(TIOCLINUX), "EPERM"},
        {"ioctl " + std::to_string(TCGETS), "ENOTTY"},
        {"signal " + std::to_string(neighbour), "EPERM"},
    };
    std::string report;
    for (const auto& c : cases) {
        HelperCall call;
        call.operation = static_cast<HelperOperation>(kTestOperationTry);
        call.network = true;
        call.request = c.tried;
        const std::optional<std::string> answer = CallHelper(call);
        report += c.tried + ": " + answer.value_or("(ended by its filter)") + "\n";
        EXPECT_EQ(answer, c.outcome) << c.tried;
    }
    std::cout << report;
    ::kill(neighbour, SIGKILL);
    ::waitpid(neighbour, nullptr, 0);
}

// Where the kernel offers no Landlock, the helper works as before and says so once.
TEST(HelperTest, WithoutLandlockTheHelperRunsAndSaysSoOnce) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("QUARNEL_HELPER", QUARNEL_TEST_HELPER, 1);
        // Every Landlock call fails as on a kernel without it; inherited by the helper.
        sock_filter code[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, __NR_landlock_create_ruleset, 0, 3),
            BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, __NR_landlock_restrict_self, 2, 0),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
            ::_exit(10);
        }
        static int notices = 0;
        SetHelperReporter([](HelperReport kind, std::string_view message) {
            notices += kind == HelperReport::Notice && message.find("Landlock") != message.npos;
        });
        HelperCall call;
        call.operation = static_cast<HelperOperation>(kTestOperationTry);
        call.network = true;
        call.request = "read /etc/passwd";
        const bool read = CallHelper(call) == "ok" && CallHelper(call) == "ok";
        ::_exit(read ? (notices == 1 ? 0 : 20 + notices) : 11);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
}

// One helper serves the calls of a session in turn; one that dies, waiting or working, is
// replaced for the next call, and none outlives the session.
TEST(HelperTest, ASessionSharesOneHelperAndReplacesOneThatDied) {
    test::ScopedEnvironment helper("QUARNEL_HELPER", std::string(QUARNEL_TEST_HELPER));
    const auto helperPid = [] {
        HelperCall call;
        call.operation = static_cast<HelperOperation>(kTestOperationStatus);
        const std::optional<std::string> status = CallHelper(call);
        const std::vector<std::string> session =
            status ? StatusFields(*status, "Session") : std::vector<std::string>{};
        return session.size() == 3 ? std::stoi(session[1]) : -1;
    };
    {
        const HelperSession session;
        const std::vector<pid_t> started = ChildrenOf(::getpid());
        ASSERT_EQ(started.size(), 1u) << "started with the session";
        const int first = helperPid();
        EXPECT_EQ(first, started[0]);
        EXPECT_EQ(helperPid(), first);

        ASSERT_EQ(::kill(first, SIGKILL), 0);
        siginfo_t ended{};
        ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(first), &ended, WEXITED | WNOWAIT), 0);
        const int second = helperPid();
        EXPECT_GT(second, 0) << "a helper that died while it waited is replaced";
        EXPECT_NE(second, first);

        HelperCall slow;
        slow.operation = static_cast<HelperOperation>(kTestOperationSleep);
        slow.deadline = std::chrono::milliseconds(300);
        EXPECT_EQ(CallHelper(slow), std::nullopt);
        const int third = helperPid();
        EXPECT_GT(third, 0) << "the call after one that failed gets a fresh helper";
        EXPECT_NE(third, second);
    }
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a helper outlived its session";
    EXPECT_EQ(errno, ECHILD);
}

// Credentials and the caller's settings travel only in the request: the helper's environment holds
// the proxy and certificate variables, its command line only its name.
TEST(HelperTest, ItsEnvironmentHoldsOnlyProxiesAndCertificateLocations) {
    test::ScopedEnvironment helper("QUARNEL_HELPER", std::string(QUARNEL_TEST_HELPER));
    test::ScopedEnvironment proxy("https_proxy", std::string("http://127.0.0.1:3128"));
    test::ScopedEnvironment upper("NO_PROXY", std::string("*"));
    test::ScopedEnvironment certificates("SSL_CERT_FILE", std::string("/nonexistent/ca.pem"));
    test::ScopedEnvironment folder("SSL_CERT_DIR", std::string("/nonexistent/certs"));
    test::ScopedEnvironment secret("QUARNEL_TEST_SECRET", std::string("hunter2"));
    HelperCall call;
    call.operation = static_cast<HelperOperation>(kTestOperationEnvironment);
    call.request = "hunter2";
    const std::optional<std::string> answer = CallHelper(call);
    ASSERT_TRUE(answer.has_value());
    std::istringstream lines(*answer);
    std::vector<std::string> others;  // beyond the proxies, which the machine may name as well
    for (std::string line; std::getline(lines, line);) {
        std::string name = line.substr(0, line.find('='));
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        if (name.size() <= 6 || name.substr(name.size() - 6) != "_proxy") {
            others.push_back(line);
        }
    }
    std::sort(others.begin(), others.end());
    EXPECT_EQ(others, (std::vector<std::string>{
                          "GNUTLS_NO_IMPLICIT_INIT=1", "SSL_CERT_DIR=/nonexistent/certs",
                          "SSL_CERT_FILE=/nonexistent/ca.pem", "arguments 1"}));
    EXPECT_NE(answer->find("https_proxy=http://127.0.0.1:3128\n"), std::string::npos);
    EXPECT_NE(answer->find("NO_PROXY=*\n"), std::string::npos);
}

// The transport and cryptographic libraries belong to the helper only: the program (every mode,
// the service too) loads none of them. The dynamic loader lists what it would map.
TEST(HelperTest, TheProgramLoadsNoTransportLibrary) {
    const test::ProgramResult listed = test::RunProgram({}, {{"LD_TRACE_LOADED_OBJECTS", "1"}}, 30);
    ASSERT_NE(listed.output.find("libc.so"), std::string::npos) << listed.output;
    for (const char* library : {"libcurl", "libssl.", "libcrypto.", "libgnutls"}) {
        EXPECT_EQ(listed.output.find(library), std::string::npos) << library;
    }
}

}  // namespace
}  // namespace quarnel
