// Running another program without a shell, with its output captured and its time bounded.

#include "platform/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <string>

#include "tests/support/test_support.h"

namespace quarnel {
namespace {

TEST(RunCommand, ArgumentsReachTheProgramLiterallyAndOutputAndExitCodeComeBack) {
    // No shell: the separators, quotes and variables stay text.
    const CommandResult result = RunCommand({"/bin/echo", "a;b", "$HOME", "'q'", "x y"}, 10000);
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "a;b $HOME 'q' x y\n");

    const CommandResult failed = RunCommand({"/bin/sh", "-c", "echo oops >&2; exit 3"}, 10000);
    EXPECT_TRUE(failed.finished);
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_EQ(failed.output, "oops\n");
}

TEST(RunCommand, StandardInputIsEmptyAndAHangingProgramIsKilledInTime) {
    const CommandResult reading = RunCommand({"/bin/cat"}, 10000);
    EXPECT_TRUE(reading.finished);
    EXPECT_EQ(reading.output, "");

    const CommandResult hanging = RunCommand({"/bin/sleep", "30"}, 200);
    EXPECT_TRUE(hanging.started);
    EXPECT_FALSE(hanging.finished);
    EXPECT_EQ(hanging.exitCode, -1);
}

TEST(RunCommand, OnlyFullPathsOfExistingProgramsStart) {
    EXPECT_FALSE(RunCommand({"echo", "x"}, 1000).started);
    EXPECT_FALSE(RunCommand({}, 1000).started);
    EXPECT_FALSE(RunCommand({"/nonexistent/program"}, 1000).started);
}

TEST(RunCommand, OutputIsCappedButTheProgramRunsToItsEnd) {
    const CommandResult result =
        RunCommand({"/bin/sh", "-c", "head -c 200000 /dev/zero; exit 4"}, 10000);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(result.output.size(), 64u * 1024u);
}

TEST(RunCommand, TheProgramWritesToAnOrdinaryBlockingPipe) {
    // A non-blocking standard output makes a program that writes faster than it is read fail
    // with EAGAIN; the kernel shows the flags of the program's descriptor 1 in octal.
    const CommandResult result = RunCommand({"/bin/cat", "/proc/self/fdinfo/1"}, 10000);
    ASSERT_TRUE(result.finished);
    const std::size_t at = result.output.find("flags:");
    ASSERT_NE(at, std::string::npos) << result.output;
    const unsigned long flags = std::stoul(result.output.substr(at + 6), nullptr, 8);
    EXPECT_EQ(flags & O_NONBLOCK, 0u) << result.output;
}

TEST(FindExecutable, SearchesOnlyTheGivenFoldersForFiles) {
    EXPECT_EQ(FindExecutable("sh", "/nonexistent:/bin"), "/bin/sh");
    EXPECT_EQ(FindExecutable("sh", "relative:/nonexistent"), "");
    // A folder of that name is no program.
    EXPECT_EQ(FindExecutable("bin", "/usr"), "");
}

TEST(StartDetachedProgram, StartsWithoutWaitingAndLeavesNoChildBehind) {
    const test::TemporaryFolder folder;
    const std::string marker = folder.Path() + "/started";
    // The program outlives the call: it waits until the test has seen the call return.
    ASSERT_TRUE(StartDetachedProgram(
        {"/bin/sh", "-c", "sleep 0.2; echo $PPID > '" + marker + "'", "ignored"}));
    EXPECT_TRUE(test::ReadFileText(marker).empty());
    for (int i = 0; i < 200 && test::ReadFileText(marker).empty(); ++i) {
        ::usleep(20000);
    }
    const std::string parent = test::ReadFileText(marker);
    ASSERT_FALSE(parent.empty());
    EXPECT_NE(std::stol(parent), static_cast<long>(::getpid()));
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no child of ours is left to reap

    EXPECT_FALSE(StartDetachedProgram({"/nonexistent/program"}));
    EXPECT_FALSE(StartDetachedProgram({}));
}

}  // namespace
}  // namespace quarnel
