#include "platform/helper_call.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/test_support.h"

namespace quarnel {
namespace {

using test::ScopedEnvironment;
using test::TemporaryFolder;

// A stand-in helper: a shell script that reads its request, then misbehaves (or not).
struct FakeHelper {
    const char* name;
    const char* script;  // empty: no file at all
    std::size_t answerLimit;
    std::optional<std::string> expected;
};

const FakeHelper kFakeHelpers[] = {
    {"answers", "cat >/dev/null; printf 'p\\001\\000\\000\\000xa\\005\\000\\000\\000hello'", 64,
     "hello"},
    {"missing", "", 64, std::nullopt},
    {"crashes", "cat >/dev/null; kill -SEGV $$", 64, std::nullopt},
    {"hangs", "exec sleep 60", 64, std::nullopt},
    {"writes garbage", "cat >/dev/null; printf 'HTTP/1.1 200 OK\\r\\n\\r\\n'", 64, std::nullopt},
    {"answers and fails", "cat >/dev/null; printf 'a\\005\\000\\000\\000hello'; exit 3", 64,
     std::nullopt},
    {"answers too much", "cat >/dev/null; printf 'a\\005\\000\\000\\000hello'", 4, std::nullopt},
    {"writes after the answer", "cat >/dev/null; printf 'a\\001\\000\\000\\000xa'", 64,
     std::nullopt},
    {"leaves the answer unfinished", "cat >/dev/null; printf 'a\\005\\000\\000\\000he'", 64,
     std::nullopt},
};

TEST(HelperCallTest, AMisbehavingHelperGivesNoAnswerPromptlyAndLeavesNoChild) {
    TemporaryFolder folder;
    for (const FakeHelper& fake : kFakeHelpers) {
        SCOPED_TRACE(fake.name);
        const std::string path = folder.Path() + "/" + fake.name;
        if (*fake.script != '\0') {
            std::ofstream(path) << "#!/bin/sh\n" << fake.script << "\n";
            ASSERT_EQ(::chmod(path.c_str(), 0700), 0);
        }
        ScopedEnvironment helper("QUARNEL_HELPER", path);
        HelperCall call;
        call.request = "request";
        call.deadline = std::chrono::milliseconds(500);
        call.answerLimit = fake.answerLimit;
        std::vector<std::string> progress;
        const auto started = std::chrono::steady_clock::now();
        const std::optional<std::string> answer =
            CallHelper(call, [&](std::string_view frame) { progress.emplace_back(frame); });
        EXPECT_EQ(answer, fake.expected);
        if (fake.expected) {
            EXPECT_EQ(progress, std::vector<std::string>{"x"});
        }
        // Far beyond the deadline: only a caller that waits for a hung helper takes this long.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child is left";
        EXPECT_EQ(errno, ECHILD);
    }
}

// A helper started ahead of time answers the next call, and none is left once the scope ends.
TEST(HelperCallTest, APreparedHelperServesTheNextCallAndNoneOutlivesItsScope) {
    TemporaryFolder folder;
    const std::string path = folder.Path() + "/answers";
    std::ofstream(path) << "#!/bin/sh\ncat >/dev/null; printf 'a\\005\\000\\000\\000hello'\n";
    ASSERT_EQ(::chmod(path.c_str(), 0700), 0);
    ScopedEnvironment helper("QUARNEL_HELPER", path);
    HelperCall call;
    call.request = "request";
    call.answerLimit = 64;
    {
        const PreparedHelpers prepared;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), 0) << "no helper waits for the call";
        EXPECT_EQ(CallHelper(call), "hello");
        EXPECT_EQ(CallHelper(call), "hello");
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), 0) << "no helper waits for the next call";
        // A waiting helper that is killed before its call is replaced, not an answerless call.
        std::ifstream children("/proc/self/task/" + std::to_string(::getpid()) + "/children");
        pid_t waiting = 0;
        ASSERT_TRUE(children >> waiting);
        ASSERT_EQ(::kill(waiting, SIGKILL), 0);
        siginfo_t ended{};
        ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(waiting), &ended, WEXITED | WNOWAIT), 0);
        EXPECT_EQ(CallHelper(call), "hello");
    }
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child is left";
    EXPECT_EQ(errno, ECHILD);
    EXPECT_EQ(CallHelper(call), "hello");
}

}  // namespace
}  // namespace quarnel
