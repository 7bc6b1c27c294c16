// The outcome hooks in this process: which programs of the folder may run, what a hook is
// given, and that a hook which hangs is killed. Hooks must belong to root, so these need root.

#include "service/outcome_hooks.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/hook_process.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

#define QUARNEL_REQUIRE_ROOT()                                                 \
    if (::geteuid() != 0) {                                                    \
        GTEST_SKIP() << "hooks must belong to root: creating them needs root"; \
    }

class OutcomeHooksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The hooks run as an unprivileged user, which must reach the output folder.
        ASSERT_EQ(::chmod(root_.Path().c_str(), 0755), 0);
        std::filesystem::create_directories(folder_);
        std::filesystem::create_directories(out_);
        ASSERT_EQ(::chmod(out_.c_str(), 0777), 0);
    }

    void Hook(const std::string& name, const std::string& body, mode_t mode = 0755) const {
        const std::string path = folder_ + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }

    std::unique_ptr<OutcomeHooks> Hooks(std::int64_t timeLimitMs = 10000) const {
        OutcomeHookOptions options;
        options.folder = folder_;
        options.timeLimitMs = timeLimitMs;
        options.notice = [this](int, const std::string& text) {
            const std::lock_guard<std::mutex> guard(noticesLock_);
            notices_ += text + "\n";
        };
        return std::make_unique<OutcomeHooks>(options);
    }

    std::string Notices() {
        const std::lock_guard<std::mutex> guard(noticesLock_);
        return notices_;
    }

    static HookEvent Event() {
        return {"update",
                "good",
                "203.0.113.5",
                "2001:db8::5",
                "home.example.org",
                "No-IP",
                "It worked; $(id)\x1b[2J\nnext"};
    }

    std::string Out(const std::string& name) const { return test::ReadFileText(out_ + "/" + name); }

    // Ended: no such process, or one that waits only to be reaped.
    static bool Gone(pid_t pid) {
        const std::string stat = test::ReadFileText("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t close = stat.rfind(')');
        return (::kill(pid, 0) != 0 && errno == ESRCH) ||
               (close != std::string::npos && stat.compare(close, 3, ") Z") == 0);
    }

    mutable std::mutex noticesLock_;
    mutable std::string notices_;
    test::TemporaryFolder root_;
    const std::string folder_ = root_.Path() + "/hooks.d";
    const std::string out_ = root_.Path() + "/out";
};

TEST_F(OutcomeHooksTest, OnlyProgramsThatOnlyRootCanChangeRun) {
    QUARNEL_REQUIRE_ROOT();
    struct Case {
        std::string name;
        mode_t mode;
        bool othersOwnIt;
        std::string refusal;  // empty: it runs
    };
    std::vector<Case> cases = {
        {"10-good", 0755, false, ""},
        {"20-theirs", 0755, true, "belongs to nobody"},
        {"30-group", 0775, false, "can be written by the group"},
        {"40-everybody", 0757, false, "can be written by everybody"},
        {"50-plain", 0644, false, "it is not executable"},
    };
    for (const Case& c : cases) {
        Hook(c.name, "true", c.mode);
        if (c.othersOwnIt) {
            ASSERT_EQ(::chown((folder_ + "/" + c.name).c_str(), 65534, 65534), 0);
        }
    }
    std::filesystem::create_directory(folder_ + "/55-folder");
    cases.push_back({"55-folder", 0, false, "it is no file"});
    // Links count by the file they name, and by the folders above it.
    const std::string elsewhere = root_.Path() + "/bin";
    std::filesystem::create_directories(elsewhere + "/open");
    std::ofstream(elsewhere + "/tool") << "#!/bin/sh\ntrue\n";
    std::ofstream(elsewhere + "/open/tool") << "#!/bin/sh\ntrue\n";
    ASSERT_EQ(::chmod((elsewhere + "/tool").c_str(), 0755), 0);
    ASSERT_EQ(::chmod((elsewhere + "/open/tool").c_str(), 0755), 0);
    ASSERT_EQ(::chmod((elsewhere + "/open").c_str(), 0777), 0);
    std::filesystem::create_symlink(elsewhere + "/tool", folder_ + "/60-link");
    std::filesystem::create_symlink(elsewhere + "/open/tool", folder_ + "/70-open-link");
    cases.push_back({"60-link", 0, false, ""});
    cases.push_back({"70-open-link", 0, false, "/bin/open can be written by the group"});
    // Names run-parts would not take are no hooks at all.
    Hook("80-old.dpkg-old", "true");
    Hook("90-edit~", "true");

    const std::vector<HookProgram> programs = FindHookPrograms(folder_);
    ASSERT_EQ(programs.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(programs[i].name, cases[i].name);
        if (cases[i].refusal.empty()) {
            EXPECT_EQ(programs[i].refusal, "") << cases[i].name;
        } else {
            EXPECT_NE(programs[i].refusal.find(cases[i].refusal), std::string::npos)
                << cases[i].name << ": " << programs[i].refusal;
        }
    }

    // A run checks again what it runs: a program made changeable after the listing never starts.
    const HookRunResult run = RunHookProgram(folder_ + "/30-group", {}, "", 1000, {});
    EXPECT_FALSE(run.started);
    EXPECT_NE(run.failure.find("can be written by the group"), std::string::npos) << run.failure;

    // A folder that others may write makes every program in it changeable, links too; its
    // sticky bit keeps no one from adding a link to any program of root's.
    for (const auto& [mode, refusal] :
         {std::pair<mode_t, std::string>{0775, "hooks.d can be written by the group"},
          {01757, "hooks.d can be written by everybody"}}) {
        ASSERT_EQ(::chmod(folder_.c_str(), mode), 0);
        for (const HookProgram& program : FindHookPrograms(folder_)) {
            EXPECT_NE(program.refusal.find(refusal), std::string::npos)
                << program.name << ": " << program.refusal;
        }
    }
}

TEST_F(OutcomeHooksTest, AHookLearnsTheOutcomeFromItsEnvironmentAloneAsAnUnprivilegedUser) {
    QUARNEL_REQUIRE_ROOT();
    // Run in name order; a failing one changes nothing for the next, nor does a refused one.
    Hook("10-fails", "echo ran > " + out_ + "/first; exit 3");
    Hook("15-theirs", "echo ran > " + out_ + "/theirs");
    ASSERT_EQ(::chown((folder_ + "/15-theirs").c_str(), 65534, 65534), 0);
    Hook("20-records", "env > " + out_ +
                           "/env.tmp\n"
                           "id -u > " +
                           out_ +
                           "/uid\n"
                           "grep -E '^Cap(Eff|Prm|Amb):' /proc/self/status > " +
                           out_ +
                           "/caps\n"
                           "grep '^NoNewPrivs:' /proc/self/status >> " +
                           out_ +
                           "/caps\n"
                           "readlink /proc/self/fd/0 > " +
                           out_ +
                           "/input\n"
                           "readlink $(seq -f /proc/self/fd/%g 3 255) > " +
                           out_ +
                           "/fds 2>/dev/null\n"
                           "echo \"$#\" > " +
                           out_ +
                           "/arguments\n"
                           "mv " +
                           out_ + "/env.tmp " + out_ + "/env");
    // Whatever this process reads from, the hook reads nothing.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const int savedInput = ::dup(0);
    ASSERT_EQ(::dup2(pipeEnds[0], 0), 0);
    const auto hooks = Hooks();
    hooks->Notify(Event());
    const bool ran = test::Eventually([&] { return !Out("env").empty(); });
    ::dup2(savedInput, 0);
    for (const int fd : {savedInput, pipeEnds[0], pipeEnds[1]}) {
        ::close(fd);
    }
    ASSERT_TRUE(ran);

    EXPECT_EQ(Out("first"), "ran\n");
    EXPECT_EQ(Out("theirs"), "");
    EXPECT_NE(Notices().find("Hook " + folder_ + "/15-theirs skipped: "), std::string::npos)
        << Notices();
    EXPECT_NE(Notices().find("Hook " + folder_ + "/10-fails failed with exit code 3"),
              std::string::npos)
        << Notices();
    std::vector<std::string> names;
    for (const std::string& line : SplitText(Out("env"), '\n')) {
        if (!line.empty()) {
            names.push_back(line.substr(0, line.find('=')));
        }
    }
    // The test's own environment (QUARNEL_HELPER, PATH, ...) is not passed on.
    std::sort(names.begin(), names.end());
    std::erase(names, "PWD");  // the shell's own
    std::erase(names, "SHLVL");
    std::erase(names, "_");
    EXPECT_EQ(names, (std::vector<std::string>{"HOME", "LOGNAME", "PATH", "QUARNEL_ADDRESS",
                                               "QUARNEL_ADDRESS6", "QUARNEL_CODE", "QUARNEL_EVENT",
                                               "QUARNEL_HOSTNAME", "QUARNEL_MESSAGE",
                                               "QUARNEL_PROVIDER", "USER"}));
    const std::string env = Out("env");
    for (const char* entry :
         {"QUARNEL_EVENT=update\n", "QUARNEL_CODE=good\n", "QUARNEL_ADDRESS=203.0.113.5\n",
          "QUARNEL_ADDRESS6=2001:db8::5\n", "QUARNEL_HOSTNAME=home.example.org\n",
          "QUARNEL_PROVIDER=No-IP\n", "QUARNEL_MESSAGE=It worked; $(id)\\x1b[2J\\x0anext\n"}) {
        EXPECT_NE(env.find(entry), std::string::npos) << entry << env;
    }
    EXPECT_NE(Out("uid"), "0\n");
    EXPECT_EQ(Out("caps"),
              "CapPrm:\t0000000000000000\nCapEff:\t0000000000000000\nCapAmb:\t0000000000000000\n"
              "NoNewPrivs:\t1\n");
    EXPECT_EQ(Out("input"), "/dev/null\n");
    // Beyond 0 to 2 only the script itself, which its interpreter reads through descriptor 3.
    EXPECT_EQ(Out("fds"), std::filesystem::canonical(folder_).string() + "/20-records\n");
    EXPECT_EQ(Out("arguments"), "0\n");
}

TEST_F(OutcomeHooksTest, AHookThatHangsIsKilledAndTheNextOutcomeStillRunsTheHooks) {
    QUARNEL_REQUIRE_ROOT();
    Hook("10-hangs", "echo $$ > " + out_ + "/pid.tmp; mv " + out_ + "/pid.tmp " + out_ +
                         "/pid\n"
                         "sleep 1000 &\necho $! > " +
                         out_ + "/child\nwait");
    const auto hooks = Hooks(300);
    hooks->Notify(Event());
    ASSERT_TRUE(test::Eventually([&] { return !Out("child").empty(); }));
    const pid_t hook = std::stoi(Out("pid"));
    const pid_t child = std::stoi(Out("child"));
    // Killed at its limit, and what it started with it.
    EXPECT_TRUE(test::Eventually([&] { return Gone(hook) && Gone(child); }));

    std::filesystem::remove(out_ + "/pid");
    std::filesystem::remove(out_ + "/child");
    hooks->Notify(Event());
    EXPECT_TRUE(test::Eventually([&] { return !Out("child").empty(); }));
}

TEST_F(OutcomeHooksTest, EndingTheHooksKillsTheHookThatRunsAtOnce) {
    QUARNEL_REQUIRE_ROOT();
    Hook("10-hangs", "echo $$ > " + out_ + "/pid.tmp; mv " + out_ + "/pid.tmp " + out_ +
                         "/pid\nexec sleep 1000");
    // A limit far beyond the test's: only ending the hooks can end this one.
    auto hooks = Hooks(3600 * 1000);
    hooks->Notify(Event());
    ASSERT_TRUE(test::Eventually([&] { return !Out("pid").empty(); }));
    const pid_t hook = std::stoi(Out("pid"));
    hooks.reset();
    EXPECT_TRUE(Gone(hook));
}

}  // namespace
}  // namespace quarnel
