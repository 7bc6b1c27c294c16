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
    const char* reported;  // what the one failure report says; empty: no report
};

const FakeHelper kFakeHelpers[] = {
    {"answers", "cat >/dev/null; printf 'p\\001\\000\\000\\000xa\\005\\000\\000\\000hello'", 64,
     "hello", ""},
    {"missing", "", 64, std::nullopt, "cannot be started"},
    {"crashes", "cat >/dev/null; kill -SEGV $$", 64, std::nullopt, "was killed by SIGSEGV"},
    {"hangs", "exec sleep 60", 64, std::nullopt, "gave no answer within 500 ms"},
    {"writes garbage", "cat >/dev/null; printf 'HTTP/1.1 200 OK\\r\\n\\r\\n'", 64, std::nullopt,
     "its output is malformed"},
    {"answers and fails", "cat >/dev/null; printf 'a\\005\\000\\000\\000hello'; exit 3", 64,
     std::nullopt, "exited with status 3"},
    {"reports a failure", "cat >/dev/null; printf 'f\\011\\000\\000\\000no\\nrights'; exit 1", 64,
     std::nullopt, "exited with status 1: no?rights"},
    {"answers too much", "cat >/dev/null; printf 'a\\005\\000\\000\\000hello'", 4, std::nullopt,
     "over the limit of 4 bytes"},
    {"writes after the answer", "cat >/dev/null; printf 'a\\001\\000\\000\\000xa'", 64,
     std::nullopt, "wrote after its answer"},
    {"leaves the answer unfinished", "cat >/dev/null; printf 'a\\005\\000\\000\\000he'", 64,
     std::nullopt, "ended its output inside a frame"},
    {"answers nothing", "cat >/dev/null", 64, std::nullopt, "ended without an answer"},
};

std::vector<std::string> reports;
void Collect(HelperReport, std::string_view message) {
    reports.emplace_back(message);
}

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
        reports.clear();
        SetHelperReporter(Collect);
        const auto started = std::chrono::steady_clock::now();
        const std::optional<std::string> answer =
            CallHelper(call, [&](std::string_view frame) { progress.emplace_back(frame); });
        SetHelperReporter(nullptr);
        EXPECT_EQ(answer, fake.expected);
        // Each failure is told once, saying what happened.
        if (*fake.reported == '\0') {
            EXPECT_TRUE(reports.empty()) << reports.front();
        } else {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_NE(reports[0].find(fake.reported), std::string::npos) << reports[0];
        }
        if (fake.expected) {
            EXPECT_EQ(progress, std::vector<std::string>{"x"});
        }
        // Far beyond the deadline: only a caller that waits for a hung helper takes this long.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child is left";
        EXPECT_EQ(errno, ECHILD);
    }
}

}  // namespace
}  // namespace quarnel
