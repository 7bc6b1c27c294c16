#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "helper/test_operations.h"
#include "platform/helper_call.h"
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

// Runs the helper on one operation byte and returns how it ended (a wait status).
int RunOperation(std::uint8_t operation) {
    int input[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0) {
        return -1;
    }
    UniqueFd ours(input[0]);
    UniqueFd theirs(input[1]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(theirs.Get(), 0);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execl(QUARNEL_TEST_HELPER, QUARNEL_TEST_HELPER, nullptr);
        ::_exit(127);
    }
    theirs.Reset();
    (void)!::write(ours.Get(), &operation, 1);
    ours.Reset();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// A helper started ahead of a call that never came sees its input end: it leaves at once,
// successfully and without a word.
TEST(HelperTest, AnInputThatEndsBeforeAnyOperationEndsItSilently) {
    test::TemporaryFolder folder;
    const std::string errors = folder.Path() + "/errors";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        const int log = ::open(errors.c_str(), O_WRONLY | O_CREAT, 0600);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(log, 2);
        ::execl(QUARNEL_TEST_HELPER, QUARNEL_TEST_HELPER, nullptr);
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(test::ReadFileText(errors), "");
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
    const int ended = RunOperation(kTestOperationForbidden);
    EXPECT_TRUE(WIFSIGNALED(ended) && WTERMSIG(ended) == SIGSYS) << ended;
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
